// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Reads back what a serial device was set to, as the kernel holds it, speed included.
#pragma once

#include <cstdint>

struct TProbedSettings {
  std::uint32_t cflag = 0;
  std::uint32_t iflag = 0;
  std::uint32_t outputSpeed = 0;
  unsigned char startChar = 0;
  unsigned char stopChar = 0;
};

// Throws when the descriptor is not a terminal.
TProbedSettings ProbeSettings(int fd);
