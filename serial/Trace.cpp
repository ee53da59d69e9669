// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The trace's switch and its lines.
#include "serial/Trace.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

unsigned AreasIn(std::string_view list) {
  unsigned areas = 0;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view name = list.substr(0, comma);
    if (name == "serial") areas |= static_cast<unsigned>(TTraceArea::Serial);
    if (name == "network") areas |= static_cast<unsigned>(TTraceArea::Network);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return areas;
}

unsigned AreasFromEnvironment() {
  const char* list = std::getenv("ORVEL_TRACE");
  return list ? AreasIn(list) : 0;
}

}  // namespace

std::atomic<unsigned> TTrace::areas_{AreasFromEnvironment()};

void TTrace::SetAreas(std::string_view list) noexcept {
  areas_ = AreasIn(list);
}

void TTrace::Print(TTraceArea area, const char* format, ...) noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  char line[512];
  int length = std::snprintf(
      line, sizeof line, "[%ld.%06ld] %s %d: ", static_cast<long>(now.tv_sec), now.tv_nsec / 1000,
      area == TTraceArea::Serial ? "serial" : "network", static_cast<int>(gettid()));
  if (length < 0) return;
  std::va_list arguments;
  va_start(arguments, format);
  const int text = std::vsnprintf(line + length, sizeof line - static_cast<std::size_t>(length),
                                  format, arguments);
  va_end(arguments);
  if (text < 0) return;
  length = std::min<int>(length + text, static_cast<int>(sizeof line) - 1);
  line[length++] = '\n';
  // A trace that cannot be written is lost, nothing else.
  [[maybe_unused]] const ssize_t written =
      ::write(STDERR_FILENO, line, static_cast<std::size_t>(length));
}
