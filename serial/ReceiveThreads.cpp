// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Bookkeeping of a serial port's receive threads.
#include "serial/ReceiveThreads.h"

#include <algorithm>

#include "serial/ComThread.h"
#include "serial/UiHandOver.h"

namespace {

constexpr auto LaterPollPause = std::chrono::milliseconds(10);
constexpr auto HandOverPollPause = std::chrono::milliseconds(1);

}  // namespace

std::shared_ptr<TComThread> TReceiveThreads::Current() const {
  std::lock_guard lock(mutex_);
  return current_;
}

std::uint64_t TReceiveThreads::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

std::uint64_t TReceiveThreads::BeginConnection() {
  std::lock_guard lock(mutex_);
  connectedPort_ = spNone;
  return ++generation_;
}

void TReceiveThreads::Install(std::shared_ptr<TComThread> thread, TCommPort port) {
  std::lock_guard lock(mutex_);
  current_ = std::move(thread);
  connectedPort_ = port;
}

void TReceiveThreads::Forget(const std::shared_ptr<TComThread>& thread) {
  std::lock_guard lock(mutex_);
  if (current_ != thread) return;
  current_.reset();
  if (thread->Started()) retired_.push_back(thread);
}

void TReceiveThreads::EndConnection(std::uint64_t generation) {
  {
    std::lock_guard lock(mutex_);
    if (generation == generation_) connectedPort_ = spNone;
  }
  Wake();
}

void TReceiveThreads::Wake() {
  {
    std::lock_guard lock(waitMutex_);
    ++wakeups_;
  }
  waitCondition_.notify_all();
}

void TReceiveThreads::WaitUntilDisconnected(int polls, std::chrono::milliseconds firstPause,
                                            TUiHandOver* ui) {
  std::unique_lock lock(waitMutex_);
  std::uint64_t seen = wakeups_;
  bool woken = false;
  for (int poll = 0; poll < polls && connectedPort_ != spNone; ++poll) {
    if (ui && ui->InUiThread()) {
      lock.unlock();
      ui->ProcessPendingEvents();
      lock.lock();
    }
    // The thread wakes this wait just before it hands an event over, which may not be queued
    // yet: look again soon rather than a whole pause later.
    auto pause = poll == 0 ? firstPause : std::chrono::milliseconds(LaterPollPause);
    if (woken) pause = std::min<std::chrono::milliseconds>(pause, HandOverPollPause);
    woken = waitCondition_.wait_for(lock, pause,
                                    [&] { return wakeups_ != seen || connectedPort_ == spNone; });
    seen = wakeups_;
  }
}

void TReceiveThreads::Reap(int maxPolls, TUiHandOver* ui) {
  for (int poll = 0;; ++poll) {
    std::vector<std::shared_ptr<TComThread>> ended;
    bool waitable = false;
    {
      std::lock_guard lock(mutex_);
      auto keep = std::stable_partition(retired_.begin(), retired_.end(), [](const auto& thread) {
        return !thread->Finished() || thread->IsCurrentThread();
      });
      ended.assign(std::make_move_iterator(keep), std::make_move_iterator(retired_.end()));
      retired_.erase(keep, retired_.end());
      waitable = std::any_of(retired_.begin(), retired_.end(), [&](const auto& thread) {
        return !thread->IsCurrentThread() && (maxPolls < 0 || !thread->HandlerRunning());
      });
    }
    for (const auto& thread : ended) thread->Join();
    if (!waitable || (maxPolls >= 0 && poll >= maxPolls)) return;
    if (ui && ui->InUiThread()) ui->ProcessPendingEvents();
    std::unique_lock lock(waitMutex_);
    const std::uint64_t seen = wakeups_;
    waitCondition_.wait_for(lock, LaterPollPause, [&] { return wakeups_ != seen; });
  }
}
