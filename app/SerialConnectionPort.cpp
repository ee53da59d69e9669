// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The window's serial port as its connection sees it.
#include "SerialConnectionPort.h"

#include <utility>

#include "NetworkAddress.h"
#include "SerialPort.h"

namespace {

// How long a station found lost may have left written commands unread: the bound within which
// a station that stopped answering is found lost. Below the window, the station's answers to
// the liveness questions, which the window does not see, prove older writes read.
constexpr std::chrono::seconds kUnreadBound{10};

}  // namespace

TSerialConnectionPort::TSerialConnectionPort(TSerialPort& port, std::function<std::string()> name)
    : port_(port), name_(std::move(name)) {
  port_.OnSend = [this](TSerialPort*, const std::string& sent) { Written(sent); };
}

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

std::vector<TConnectionController::TWrittenCommand> TSerialConnectionPort::UnconfirmedWrites()
    const {
  const auto now = std::chrono::system_clock::now();
  std::vector<TConnectionController::TWrittenCommand> recent;
  for (const auto& write : written_) {
    if (now - write.Written <= kUnreadBound) recent.push_back(write);
  }
  return recent;
}

void TSerialConnectionPort::Written(const std::string& text) {
  if (!IsStation()) return;
  const auto now = std::chrono::system_clock::now();
  std::erase_if(written_, [&](const auto& write) { return now - write.Written > kUnreadBound; });
  written_.push_back({text, now});
}
