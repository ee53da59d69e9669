// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The receive threads of one serial port: the one of the open connection, those that Close
// forgot while they still run, the generations that tell them apart, and waiting for them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "serial/CommPort.h"

class TComThread;
class TUiHandOver;

class TReceiveThreads {
 public:
  std::shared_ptr<TComThread> Current() const;
  TCommPort ConnectedPort() const { return connectedPort_; }
  // The latest connection's generation; only its thread may end the connection state.
  std::uint64_t Generation() const;
  bool IsLatest(std::uint64_t generation) const { return generation == Generation(); }

  // A new connection begins; no port is connected until Install. Its generation.
  std::uint64_t BeginConnection();
  void Install(std::shared_ptr<TComThread> thread, TCommPort port);
  // Forgets `thread` if it is the current one; a started thread is kept until it has ended.
  void Forget(const std::shared_ptr<TComThread>& thread);
  // The connection of that generation is over, unless a newer one has begun.
  void EndConnection(std::uint64_t generation);

  // Wakes WaitUntilDisconnected and Reap: a thread ended or is about to hand an event over.
  void Wake();
  // Polls at most `polls` times while a port is connected: the first pause `firstPause`,
  // 10 ms later. On the user-interface thread each poll first lets pending events run, so
  // that the hand-over of OnDisconnect can be served.
  void WaitUntilDisconnected(int polls, std::chrono::milliseconds firstPause, TUiHandOver* ui);
  // Joins the forgotten threads that have ended, first waiting up to maxPolls 10 ms polls
  // (without bound when negative) for those that can end. With a bound, a thread parked in a
  // hand-over whose handler runs below the caller cannot, and is left to end by itself.
  void Reap(int maxPolls, TUiHandOver* ui);

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<TComThread> current_;
  std::vector<std::shared_ptr<TComThread>> retired_;
  std::uint64_t generation_ = 0;
  // Written under mutex_ with the generation, read without it.
  std::atomic<TCommPort> connectedPort_ = spNone;

  std::mutex waitMutex_;
  std::condition_variable waitCondition_;
  std::uint64_t wakeups_ = 0;
};
