// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
#include "station/StationPorts.h"

#include "station/NetworkAddress.h"
#include "station/StationModule.h"

bool TStationPorts::IsAddress(std::string_view name) const {
  return TNetworkAddress::IsAddress(name);
}

std::string TStationPorts::Shown(std::string_view name) const {
  return TNetworkAddress::Masked(name);
}

std::unique_ptr<TSerialDevice> TStationPorts::Open(const std::string& address, TDeviceError& error,
                                                   const TCancelFlag& cancelled) {
  std::string reason;
  TStationModule* module = StationModule(reason);
  if (!module) {
    error = {TSerialErrorKind::Other, reason};
    return nullptr;
  }
  return module->Open(address, error, cancelled);
}
