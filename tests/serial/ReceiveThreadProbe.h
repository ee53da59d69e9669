// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// What reaches a port's OnReceive on the receive thread itself, and whether that thread slept.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "FakeUiThread.h"
#include "SerialPort.h"

class TReceiveThreadProbe {
 public:
  // Takes the port's OnReceive and has it called on the receive thread, whose sleep is what
  // is counted.
  explicit TReceiveThreadProbe(TSerialPort& port);

  std::string Received() const;
  // How often the receive thread gave up the processor of its own accord while `ui` waited
  // `span`: one more at every sleep, so a thread that sleeps on does not add to it. -1 when
  // it cannot be read (nothing was received yet).
  long SleepsDuring(TFakeUiThread& ui, std::chrono::milliseconds span) const;

 private:
  std::atomic<pid_t> thread_ = 0;
  mutable std::mutex mutex_;
  std::string received_;
};
