// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The one retry of system calls that a signal interrupts: every call of the POSIX layer that
// can fail with EINTR goes through it.
#pragma once

#include <cerrno>

// Calls `call` again for as long as it fails (a negative result) with EINTR.
template <typename Call>
auto RetryOnInterrupt(Call call) {
  for (;;) {
    const auto result = call();
    if (!(result < 0 && errno == EINTR)) return result;
  }
}
