// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The count from /proc/self/task/<thread>/status.
#include "ThreadSwitches.h"

#include <fstream>
#include <string>

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
