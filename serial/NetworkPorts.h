// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Network ports as the serial component sees them: a port name may be a station's address, which
// another library opens. The program hands that library in; without it every name is a local
// device, so the component builds and works on its own.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "serial/SerialDevice.h"
#include "serial/SerialPlatform.h"

class TNetworkPorts {
 public:
  virtual ~TNetworkPorts() = default;
  // Whether the name is a network address rather than a device or a listed name.
  virtual bool IsAddress(std::string_view name) const = 0;
  // The name as it may be shown: an address without its secrets or control characters.
  virtual std::string Shown(std::string_view name) const = 0;
  // Null with the reason when the station is not reached; gives up soon after `cancelled`.
  virtual std::unique_ptr<TSerialDevice> Open(const std::string& address, TDeviceError& error,
                                              const TCancelFlag& cancelled) = 0;
};

// Hands the network ports in for every serial port of the process, before the first is opened;
// null takes them away.
void UseNetworkPorts(std::shared_ptr<TNetworkPorts> ports);
// The network ports handed in, or null.
std::shared_ptr<TNetworkPorts> NetworkPorts();

// A network open waits on events of its own, not on its cancel flag: whoever sets a flag calls
// this, and the listener (the network ports' loop) wakes the opens to look at their flags.
void NotifyOpenCancelled();
// The one listener of the process; null takes it away.
void SetOpenCancelListener(void (*listener)());

// TNetworkPorts' answers, or those of a process without network ports.
bool IsNetworkAddress(std::string_view name);
std::string ShownPortName(std::string_view name);
