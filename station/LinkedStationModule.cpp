// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The station module's calls, each handed to the class that does the work.
#include "station/LinkedStationModule.h"

#include "station/NetworkSerialDevice.h"
#include "station/StationBrowser.h"

namespace {

class TLinkedStationModule final : public TStationModule {
 public:
  std::unique_ptr<TSerialDevice> Open(const std::string& address, TDeviceError& error,
                                      const TCancelFlag& cancelled) override {
    return TNetworkSerialDevice::Open(address, error, cancelled);
  }
  std::unique_ptr<TStationBrowser> NewBrowser(TUiHandOver* handOver) override {
    return std::make_unique<TStationBrowser>(handOver);
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
