// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The support trace: ORVEL_TRACE=serial (areas separated by commas) prints each device call and
// the receive thread's waits and wakes to standard error, with a monotonic time stamp. Off by
// default; a call site costs one relaxed load while its area is off.
#pragma once

#include <atomic>
#include <string_view>

enum class TTraceArea : unsigned { Serial = 1, Network = 2 };

class TTrace {
 public:
  static bool On(TTraceArea area) noexcept {
    return (areas_.load(std::memory_order_relaxed) & static_cast<unsigned>(area)) != 0;
  }
  // One line, "[seconds] area thread: text"; written whole, so that threads do not mix lines.
  [[gnu::format(printf, 2, 3)]] static void Print(TTraceArea area, const char* format,
                                                  ...) noexcept;
  // The areas as ORVEL_TRACE names them, which is read once at start: for a program that is
  // told them otherwise, and for tests.
  static void SetAreas(std::string_view list) noexcept;

 private:
  static std::atomic<unsigned> areas_;
};

// One trace line in `area` (Serial, Network); the arguments are not evaluated while it is off.
#define ORVEL_TRACE(area, ...)                                                      \
  do {                                                                              \
    if (TTrace::On(TTraceArea::area)) TTrace::Print(TTraceArea::area, __VA_ARGS__); \
  } while (false)
