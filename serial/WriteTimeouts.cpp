// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The deadline of one write.
#include "serial/WriteTimeouts.h"

void TWriteTimeouts::Apply(const TTimeouts& timeouts) {
  multiplier_ = timeouts.WriteTotalMultiplier;
  constant_ = timeouts.WriteTotalConstant;
}

std::chrono::steady_clock::time_point TWriteTimeouts::Deadline(
    std::size_t size, std::chrono::milliseconds longestWait) const {
  const std::int64_t multiplier = multiplier_;
  const std::int64_t constant = constant_;
  auto allowed = std::chrono::milliseconds(multiplier * static_cast<std::int64_t>(size) + constant);
  if ((multiplier == 0 && constant == 0) || allowed > longestWait) allowed = longestWait;
  return std::chrono::steady_clock::now() + allowed;
}
