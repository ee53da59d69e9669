// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The stations as network ports of the serial component: a port name that is an RFC 2217 or TCP
// address opens a connection to its station. Telling an address needs nothing more; opening one
// loads the station module first.
#pragma once

#include "serial/NetworkPorts.h"

class TStationPorts final : public TNetworkPorts {
 public:
  bool IsAddress(std::string_view name) const override;
  std::string Shown(std::string_view name) const override;
  std::unique_ptr<TSerialDevice> Open(const std::string& address, TDeviceError& error,
                                      const TCancelFlag& cancelled) override;
};
