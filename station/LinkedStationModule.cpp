// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The station module's calls, each handed to the class that does the work.
#include "station/LinkedStationModule.h"

#include "station/NetworkSerialDevice.h"
#include "station/StationBrowser.h"
#include "station/StationSearch.h"

namespace {

class TBrowserSearch final : public TStationSearch {
 public:
  explicit TBrowserSearch(TUiHandOver* handOver) : browser_(handOver) {
    browser_.OnChange = [this] {
      if (OnChange) OnChange();
    };
  }
  void Start() override { browser_.Start(); }
  void Stop() override { browser_.Stop(); }
  const std::vector<TFoundStation>& Stations() const override { return browser_.Stations(); }
  TStationBrowser::TState State() const override { return browser_.State(); }
  const std::string& Reason() const override { return browser_.Reason(); }

 private:
  TStationBrowser browser_;
};

class TLinkedStationModule final : public TStationModule {
 public:
  std::unique_ptr<TSerialDevice> Open(const std::string& address, TDeviceError& error,
                                      const TCancelFlag& cancelled) override {
    return TNetworkSerialDevice::Open(address, error, cancelled);
  }
  std::unique_ptr<TStationSearch> NewSearch(TUiHandOver* handOver) override {
    return std::make_unique<TBrowserSearch>(handOver);
  }
  std::optional<TOperatorIdentity> EnsureOperatorIdentity(const std::string& commonName,
                                                          std::string& reason) override {
    return ::EnsureOperatorIdentity(commonName, reason);
  }
  std::string CertificateCommonName(const std::string& certFile) override {
    return ::CertificateCommonName(certFile);
  }
  std::string PemFingerprint(std::string_view pem) override { return ::PemFingerprint(pem); }
};

}  // namespace

TStationModule& LinkedStationModule() {
  static TLinkedStationModule module;
  return module;
}
