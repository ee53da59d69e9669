// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The sleeps come from /proc/self/task/<thread>/status.
#include "ReceiveThreadProbe.h"

#include <unistd.h>

#include <fstream>

namespace {

long VoluntarySwitches(pid_t thread) {
  std::ifstream status("/proc/self/task/" + std::to_string(thread) + "/status");
  std::string field;
  while (status >> field) {
    if (field == "voluntary_ctxt_switches:") {
      long count = -1;
      status >> count;
      return count;
    }
  }
  return -1;
}

}  // namespace

TReceiveThreadProbe::TReceiveThreadProbe(TSerialPort& port) {
  port.SetSynchronizeEvents(false);
  port.OnReceive = [this](TSerialPort*, const std::string& buffer) {
    thread_ = ::gettid();
    std::lock_guard lock(mutex_);
    received_ += buffer;
  };
}

std::string TReceiveThreadProbe::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

long TReceiveThreadProbe::SleepsDuring(TFakeUiThread& ui, std::chrono::milliseconds span) const {
  const pid_t thread = thread_;
  const long before = thread != 0 ? VoluntarySwitches(thread) : -1;
  ui.WaitUntil([] { return false; }, span);
  const long after = before >= 0 ? VoluntarySwitches(thread) : -1;
  return after >= 0 ? after - before : -1;
}
