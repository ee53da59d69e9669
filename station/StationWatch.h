// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Whether an open station is still there: TStationLiveness's rule run on a gensio timer in the
// station loop, the connection's news read from the kernel's byte count, and the question asked.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "serial/SerialDevice.h"
#include "serial/ThreadSafety.h"
#include "station/StationLiveness.h"

struct gensio_iod;
struct gensio_os_funcs;
struct gensio_timer;
struct sergensio;
class TStationSocket;

class TStationWatch {
 public:
  using TClock = std::chrono::steady_clock;

  // `onLost` runs, with no lock of the watch held, when the station does not answer in time.
  TStationWatch(TStationLiveness::TBounds bounds, std::function<void()> onLost);
  ~TStationWatch() { Stop(); }
  TStationWatch(const TStationWatch&) = delete;
  TStationWatch& operator=(const TStationWatch&) = delete;

  // The connection is up. `socket` counts what it receives (when the kernel gives a count);
  // `serial` is asked whether it is still there (null over raw TCP: nothing to ask, nothing to
  // watch).
  void Start(gensio_os_funcs* os, sergensio* serial, const TStationSocket& socket) EXCLUDES(mutex_);
  // No handler of the watch runs once this has returned.
  void Stop() EXCLUDES(mutex_);
  // gensio handed in bytes, an answer or news: the count when the kernel gives none.
  void Heard(bool counts) EXCLUDES(mutex_);
  // Reading held back at a full inbox, or resumed.
  void Hold(bool held) EXCLUDES(mutex_);
  // Before a write: whether the station was heard lately or answers the question in time; one
  // that does not is lost. `lost` ends the wait at once (Wake tells).
  bool ProveAlive(const std::atomic<bool>& lost) EXCLUDES(mutex_);
  // The connection is lost or the writes aborted: a waiting write looks again.
  void Wake() EXCLUDES(mutex_);
  void Wrote(std::string text, std::chrono::system_clock::time_point wall) EXCLUDES(mutex_);

  std::vector<TUnconfirmedWrite> Unconfirmed() const EXCLUDES(mutex_);
  std::chrono::system_clock::time_point LastHeard() const EXCLUDES(mutex_);
  std::optional<std::chrono::microseconds> LastRoundTrip() const EXCLUDES(mutex_);

 private:
  static void Tick(gensio_timer* timer, void* data);
  static void TimerStopped(gensio_timer* timer, void* data);
  static void CountGrew(gensio_iod* iod, void* data);
  static void CountCleared(gensio_iod* iod, void* data);
  void OnTick() EXCLUDES(mutex_);
  // The bytes received so far: the kernel's count, or gensio's events when there is none.
  std::uint64_t Received() const REQUIRES(mutex_);
  void Observe() REQUIRES(mutex_);
  // Notes a question unless one is out already; whether one is to be sent...
  bool StartQuestion() REQUIRES(mutex_);
  // ...which goes out with no lock held (gensio's loop holds gensio's locks as it calls in).
  void SendQuestion(const char* why) EXCLUDES(mutex_);
  // The socket is watched for the answer only while a question is out.
  void WatchCount() REQUIRES(mutex_);
  void Arm(TClock::time_point due) REQUIRES(mutex_);

  const std::function<void()> onLost_;
  // Set by Start (the count's under mutex_) before the loop calls in, then only read; Stop
  // lets go of the timer and the count's descriptor once, when no handler of them can run.
  gensio_os_funcs* os_ = nullptr;
  sergensio* serial_ = nullptr;
  const TStationSocket* socket_ = nullptr;
  gensio_timer* timer_ = nullptr;
  gensio_iod* count_ = nullptr;

  mutable TMutex mutex_;
  // Notified on news, an answer, a loss, and as the timer and the socket's watch let go.
  std::condition_variable changed_;
  TStationLiveness liveness_ GUARDED_BY(mutex_);
  std::uint64_t heardEvents_ GUARDED_BY(mutex_) = 0;
  bool countsSocket_ GUARDED_BY(mutex_) = false;
  bool countWatched_ GUARDED_BY(mutex_) = false;
  // The station did not answer in time: it is asked nothing more.
  bool lost_ GUARDED_BY(mutex_) = false;
  bool stopping_ GUARDED_BY(mutex_) = false;
  // The timer's handler found the watch stopping and armed the timer once more, so that Stop
  // can stop it with gensio's word that no handler runs.
  bool rearmedToStop_ GUARDED_BY(mutex_) = false;
  bool timerStopped_ GUARDED_BY(mutex_) = false;
  bool countCleared_ GUARDED_BY(mutex_) = false;
};
