// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The write time-outs of one open device as its writes use them: applied on one thread, read by
// a write on another, the same rule for every kind of device.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "serial/SerialDevice.h"

class TWriteTimeouts {
 public:
  void Apply(const TTimeouts& timeouts);
  // When a write of `size` bytes that begins now has to end: Multiplier x size + Constant
  // milliseconds, and never later than `longestWait` (which alone bounds it when both are 0).
  std::chrono::steady_clock::time_point Deadline(std::size_t size,
                                                 std::chrono::milliseconds longestWait) const;

 private:
  std::atomic<std::uint32_t> multiplier_ = 0;
  std::atomic<std::uint32_t> constant_ = 0;
};
