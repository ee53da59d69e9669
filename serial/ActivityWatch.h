// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// What lets the receive thread of an idle port sleep: a wait that ends when the open device or
// the port list entry that it came from may have changed, or when the thread is wanted.
#pragma once

#include <chrono>
#include <optional>

struct TListedPort;

// Made for one open device; WatchEntry and Wait on the receive thread, Wake from any thread.
class TActivityWatch {
 public:
  virtual ~TActivityWatch() = default;
  // From now on also watches the port directory entry and the device node that `port` names,
  // instead of those watched before; none for a port that was not listed.
  virtual void WatchEntry(const std::optional<TListedPort>& port) = 0;
  // Waits until bytes wait on the device, it hangs up or fails, the watched entry or device may
  // have changed, Wake is called, or `timeout` has passed (none: no time limit). True when the
  // port has to be looked at: anything but a quiet time-out with every change watched.
  virtual bool Wait(std::optional<std::chrono::milliseconds> timeout) = 0;
  // The wait in progress, or else the next one, returns at once.
  virtual void Wake() = 0;
};
