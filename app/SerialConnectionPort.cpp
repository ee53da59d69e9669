// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The window's serial port as its connection sees it.
#include "app/SerialConnectionPort.h"

#include <utility>

#include "serial/SerialPort.h"
#include "station/NetworkAddress.h"

TSerialConnectionPort::TSerialConnectionPort(TSerialPort& port, std::function<std::string()> name)
    : port_(port), name_(std::move(name)) {}

void TSerialConnectionPort::BeginOpen(std::function<void(std::exception_ptr failure)> done) {
  port_.BeginOpen(std::move(done));
}

bool TSerialConnectionPort::IsStation() const {
  const std::string name = port_.PortName();
  return TNetworkAddress::IsAddress(name) || TNetworkAddress::IsAddress(port_.DevicePathOf(name));
}

std::string TSerialConnectionPort::Name() const {
  return name_();
}

std::vector<TUnconfirmedWrite> TSerialConnectionPort::UnconfirmedWrites() const {
  // Read by the fault handler before the port is closed: the device is let go at Close.
  return port_.UnconfirmedWrites();
}

TStationReport TSerialConnectionPort::LossReport() const {
  return port_.LossReport();
}
