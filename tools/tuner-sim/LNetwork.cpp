// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The L-network model: input impedance of the network loaded by the antenna, and the search
// for the best relay setting.
#include "tools/tuner-sim/LNetwork.h"

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

namespace {

constexpr double kSystemImpedance = 50;

double SwrOf(std::complex<double> input) {
  double reflection = std::abs((input - kSystemImpedance) / (input + kSystemImpedance));
  if (!std::isfinite(reflection) || reflection >= 1) return std::numeric_limits<double>::infinity();
  return (1 + reflection) / (1 - reflection);
}

}  // namespace

LNetwork::LNetwork(const Load& load) : load_(load) {}

double LNetwork::Swr(std::uint8_t l_code, std::uint8_t c_code, int side) const {
  const double omega = 2 * std::numbers::pi * load_.megahertz * 1e6;
  const std::complex<double> inductor(0, omega * l_code * kMicrohenryPerStep * 1e-6);
  const std::complex<double> capacitor(0, omega * c_code * kPicofaradPerStep * 1e-12);
  const std::complex<double> antenna(load_.resistance, load_.reactance);
  std::complex<double> input;
  if (side == 0) {
    input = 1.0 / (capacitor + 1.0 / (antenna + inductor));
  } else {
    input = inductor + 1.0 / (capacitor + 1.0 / antenna);
  }
  return SwrOf(input);
}

Match LNetwork::Best() const {
  Match best;
  best.swr = std::numeric_limits<double>::infinity();
  bool found = false;
  for (int side = 0; side <= 1; ++side) {
    for (int l = 0; l <= 255; ++l) {
      for (int c = 0; c <= 255; ++c) {
        double swr = Swr(static_cast<std::uint8_t>(l), static_cast<std::uint8_t>(c), side);
        // A tiny margin keeps the choice stable against rounding between equal settings.
        if (!found || swr < best.swr - 1e-9) {
          best = {static_cast<std::uint8_t>(l), static_cast<std::uint8_t>(c), side, swr};
          found = true;
        }
      }
    }
  }
  return best;
}
