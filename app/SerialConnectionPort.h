// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The window's serial port as its connection sees it: opening, whether it is a network station,
// and what a station found lost may still carry out, as the port reports it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/ConnectionController.h"

class TSerialPort;

class TSerialConnectionPort final : public TConnectionController::TPort {
 public:
  // `name` gives the port's name as the operator picked it.
  TSerialConnectionPort(TSerialPort& port, std::function<std::string()> name);

  void BeginOpen(std::function<void(std::exception_ptr failure)> done) override;
  bool IsStation() const override;
  std::string Name() const override;
  std::vector<TUnconfirmedWrite> UnconfirmedWrites() const override;
  TStationReport LossReport() const override;

 private:
  TSerialPort& port_;
  std::function<std::string()> name_;
};
