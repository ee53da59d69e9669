// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The tuner's L-network: a switched series inductor and a switched capacitor to ground that
// sits at either end of it, matching a load to the 50-ohm transmitter.
#pragma once

#include <cstdint>

#include "tools/tuner-sim/Load.h"

// One setting of the relays and the SWR the transmitter sees with it.
struct Match {
  std::uint8_t l_code = 0;  // 0.04 uH per step
  std::uint8_t c_code = 0;  // 5 pF per step
  int side = 0;             // 0: capacitor at the transmitter end; 1: at the antenna end
  double swr = 1;           // infinity when nothing is matched at all
};

class LNetwork {
 public:
  static constexpr double kMicrohenryPerStep = 0.04;
  static constexpr double kPicofaradPerStep = 5;

  explicit LNetwork(const Load& load);

  // The SWR that the transmitter sees through the network set to these codes.
  double Swr(std::uint8_t l_code, std::uint8_t c_code, int side) const;

  // The setting with the lowest SWR over every code and both sides; among equals, the
  // smallest codes on the transmitter-end side.
  Match Best() const;

 private:
  Load load_;
};
