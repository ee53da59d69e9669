// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The simulator's command line: what it accepts and the help text that documents it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/tuner-sim/Load.h"
#include "tools/tuner-sim/TunerSim.h"

struct SimOptions {
  std::string name = "COM250";
  Load load = BuiltInLoads().front();
  TunerFaults faults;
  bool once = false;
  bool split = false;
  std::chrono::milliseconds unplug_after{0};  // 0: never
  std::optional<std::uint32_t> seed;          // none: a new one for each run
  bool verbose = false;
  bool help = false;
  bool version = false;
};

// The options given after the program name, as "--option value" or "--option=value".
// Throws std::invalid_argument with a message meant for the operator.
SimOptions ParseOptions(const std::vector<std::string>& arguments);

std::string HelpText();
