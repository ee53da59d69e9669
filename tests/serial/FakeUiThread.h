// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A stand-in for the user-interface thread in the serial tests: the thread that creates it is
// the "user-interface thread", and hand-overs wait in a queue until that thread lets pending
// events run.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/UiHandOver.h"

class TFakeUiThread final : public TUiHandOver {
 public:
  TFakeUiThread();

  void Synchronize(const std::function<void()>& call) override;
  bool InUiThread() const override;
  void ProcessPendingEvents() override;

  // Queues a user-interface event (a click) without waiting for it.
  void Post(std::function<void()> call);
  // Lets events run until the condition holds or the time is up; the condition's last value.
  bool WaitUntil(const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Waits, without letting events run, until a hand-over or a posted event waits for this
  // thread or the time is up; whether one waits.
  bool WaitForPending(std::chrono::milliseconds timeout);
  // How often ProcessPendingEvents has been called.
  int ProcessCalls() const { return processCalls_; }

 private:
  struct TEvent {
    std::function<void()> call;
    std::promise<void> done;
  };

  const std::thread::id uiThread_;
  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::shared_ptr<TEvent>> queue_;
  std::atomic<int> processCalls_ = 0;
};
