// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Value formats of the tuner's status lines.
#include "tools/tuner-sim/StatusFormat.h"

#include <cmath>

int SwrTenths(double swr) {
  if (!std::isfinite(swr) || swr >= 9.95) return kSwrOutOfRange;
  long tenths = std::lround(swr * 10);
  return tenths < 10 ? 10 : static_cast<int>(tenths);
}

std::string SwrValue(int tenths) {
  if (tenths < 10 || tenths > 99) return "255";
  return std::to_string(tenths);
}

std::string BinaryValue(std::uint8_t code) {
  std::string bits(8, '0');
  for (int i = 0; i < 8; ++i) {
    if (code & (0x80 >> i)) bits[static_cast<std::size_t>(i)] = '1';
  }
  return bits;
}

std::string ZeroPadded(int value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) {
    digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
  }
  return digits;
}
