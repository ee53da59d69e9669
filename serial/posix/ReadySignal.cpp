// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TReadySignal on an eventfd: readable while its counter is not zero.
#include "serial/posix/ReadySignal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

TReadySignal::TReadySignal() : descriptor_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TReadySignal::~TReadySignal() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

void TReadySignal::Set(bool ready) {
  if (descriptor_ < 0 || ready == ready_) return;
  ready_ = ready;
  std::uint64_t count = 1;
  // Neither can fail but for a full counter, which one write of 1 a time never reaches.
  [[maybe_unused]] const ssize_t moved = ready ? ::write(descriptor_, &count, sizeof count)
                                               : ::read(descriptor_, &count, sizeof count);
}
