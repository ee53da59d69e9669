// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The process's one gensio loop: gensio's OS handler and the one thread that runs it, on which
// every station connection's events and timers and the station browser's watch run. Made at
// first need; it lasts as long as the process.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <thread>

#include "serial/ThreadSafety.h"

struct gensio_iod;
struct gensio_os_funcs;

class TStationLoop {
 public:
  // Made, with its thread, at the first call; null with the reason when the network layer
  // cannot start.
  static TStationLoop* Get(std::string& reason);

  gensio_os_funcs* Os() const { return os_; }
  // `wake` runs, on any thread, when a wait may have to end for a reason that no event of its
  // own tells: the writes aborted, an open cancelled. It runs no more once Forget returned.
  int Listen(std::function<void()> wake) EXCLUDES(mutex_);
  void Forget(int id) EXCLUDES(mutex_);

 private:
  explicit TStationLoop(gensio_os_funcs* os);
  void Run();
  void WakeAll() EXCLUDES(mutex_);
  static void Aborted(gensio_iod* iod, void* data);

  gensio_os_funcs* const os_;
  std::thread thread_;
  // The abort's descriptor as the loop watches it; null when there is none.
  gensio_iod* abort_ = nullptr;

  TMutex mutex_;
  int nextId_ GUARDED_BY(mutex_) = 0;
  std::map<int, std::function<void()>> listeners_ GUARDED_BY(mutex_);
};
