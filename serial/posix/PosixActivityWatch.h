// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The Linux side of TActivityWatch: poll() on the device, inotify on the port's directory entry
// (and the links it leads through) and on its device node, and an eventfd that Wake writes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/ActivityWatch.h"
#include "serial/SerialPlatform.h"

class TPosixActivityWatch final : public TActivityWatch {
 public:
  // For the open descriptor `device`, which stays the caller's; null when the system gives no
  // eventfd. A `connection` (a network station's readiness) also tells when it ends, so its
  // presence rests on it and on its port directory entry, if it has one, alone.
  static std::unique_ptr<TPosixActivityWatch> Create(int device, bool connection = false);

  TPosixActivityWatch(int device, int wake, bool connection);
  ~TPosixActivityWatch() override;
  TPosixActivityWatch(const TPosixActivityWatch&) = delete;
  TPosixActivityWatch& operator=(const TPosixActivityWatch&) = delete;

  void WatchEntry(const std::optional<TListedPort>& port) override;
  bool Wait(std::optional<std::chrono::milliseconds> timeout) override;
  void Wake() override;

 private:
  // A name in a watched folder, or the watched node itself (no name).
  struct TWatchedName {
    int watch;
    std::string name;
  };

  void Rewatch();
  // False, with nothing watched any more, when the system refuses.
  bool Watch(const std::string& path, std::uint32_t changes, std::string name);
  void StopWatching();
  // Reads every queued change; true when one may concern the port.
  bool ConcernsPort();

  // Takes an inotify descriptor for the first watch.
  bool TakeChanges();

  const int device_;
  const int wake_;
  const bool connection_;
  // The inotify descriptor; -1 while nothing is watched.
  int changes_ = -1;
  std::optional<TListedPort> port_;
  std::vector<TWatchedName> names_;
  // The port directory that holds the entry; empty for a device found by itself.
  std::string portsDirectory_;
  // Every change that can make the port unlisted raises an event.
  bool complete_ = false;
  // A watched folder went away or moved: the watches are made again before the next wait.
  bool stale_ = false;
};
