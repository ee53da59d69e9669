// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The window's serial port as its connection sees it: opening, whether it is a network station,
// and the commands written to a station and not followed by anything from it, which a station
// found lost may not have read.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ConnectionController.h"

class TSerialPort;

class TSerialConnectionPort final : public TConnectionController::TPort {
 public:
  // `name` gives the port's name as the operator picked it. Takes the port's OnSend event.
  TSerialConnectionPort(TSerialPort& port, std::function<std::string()> name);

  void BeginOpen(std::function<void(std::exception_ptr failure)> done) override;
  bool IsStation() const override;
  std::string Name() const override;
  std::vector<TConnectionController::TWrittenCommand> UnconfirmedWrites() const override;

  // The port opened afresh, or something came from it: what was written before is not waiting
  // unread at a station that is still sending.
  void Heard() { written_.clear(); }

 private:
  void Written(const std::string& text);

  TSerialPort& port_;
  std::function<std::string()> name_;
  std::vector<TConnectionController::TWrittenCommand> written_;
};
