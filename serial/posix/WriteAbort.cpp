// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The stop of all writes: a flag and an eventfd, both usable from a signal handler.
#include "serial/posix/WriteAbort.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "serial/SerialPlatform.h"
#include "serial/SerialProcess.h"

namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

std::atomic<bool> aborted = false;
std::atomic<int> abortDescriptor = -1;

}  // namespace

void AbortSerialWrites() noexcept {
  const int savedErrno = errno;
  // The flag first: a write that creates the descriptor after this reads the flag afterwards.
  aborted = true;
  if (const int fd = abortDescriptor; fd >= 0) {
    const std::uint64_t one = 1;
    // A full counter is readable already.
    [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
  }
  errno = savedErrno;
}

bool SerialWritesAborted() noexcept {
  if (const TSerialProcess* program = SharedSerialProcess()) return program->WritesAborted();
  return aborted;
}

int WriteAbortDescriptor() {
  if (const TSerialProcess* program = SharedSerialProcess()) return program->WriteAbortDescriptor();
  static std::once_flag created;
  std::call_once(created, [] { abortDescriptor = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); });
  return abortDescriptor;
}
