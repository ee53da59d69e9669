// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The antennas the simulated tuner can be connected to: built-in ones and loads given by hand.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A load seen at the tuner's antenna terminal: R + jX ohms at one frequency.
struct Load {
  std::string name;
  double resistance = 50;  // ohms, always above 0
  double reactance = 0;    // ohms, positive for inductive
  double megahertz = 14.2;
};

// The built-in antennas, the first one being the default.
const std::vector<Load>& BuiltInLoads();

// The built-in antenna of that name, if there is one.
std::optional<Load> FindBuiltInLoad(std::string_view name);

// "R,X" or "R,X,MHZ" (decimal numbers, R above 0, MHZ from 1 to 60); nothing when malformed.
std::optional<Load> ParseLoad(std::string_view text);
