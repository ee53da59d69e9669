// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// What only stations need, behind one interface: the network device, the stations announced on
// the network and the operator's certificates. They bring gensio, avahi and OpenSSL with them,
// which a window that only opens local ports never needs: the program loads the module when a
// station is first used, and the tests hand in the one they link (LinkedStationModule.h).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "serial/SerialDevice.h"
#include "serial/SerialPlatform.h"
#include "serial/SerialProcess.h"
#include "station/OperatorIdentity.h"

class TStationSearch;
class TUiHandOver;

class TStationModule {
 public:
  virtual ~TStationModule() = default;
  // TNetworkSerialDevice::Open.
  virtual std::unique_ptr<TSerialDevice> Open(const std::string& address, TDeviceError& error,
                                              const TCancelFlag& cancelled) = 0;
  // A search through a TStationBrowser, not started yet.
  virtual std::unique_ptr<TStationSearch> NewSearch(TUiHandOver* handOver) = 0;
  // As OperatorIdentity.h has them.
  virtual std::optional<TOperatorIdentity> EnsureOperatorIdentity(const std::string& commonName,
                                                                  std::string& reason) = 0;
  virtual std::string CertificateCommonName(const std::string& certFile) = 0;
  virtual std::string PemFingerprint(std::string_view pem) = 0;
};

// The loadable module's one exported function, which gives its TStationModule.
// Given the program's process-wide serial state, which the module's own copy of the component uses.
using TStationModuleEntry = TStationModule*(const TSerialProcess& program);
inline constexpr const char* kStationModuleEntry = "OrvelStationModule";

// The module handed in, else the one loaded at the first call: from beside the program (the
// build tree), else from where the package installs it. Null with a sentence that names the
// file and why it cannot be loaded.
TStationModule* StationModule(std::string& reason);
// Hands in the module for the whole process (the tests' linked one); null goes back to loading.
void UseStationModule(TStationModule* module);
