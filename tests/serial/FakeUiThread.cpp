// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The serial tests' user-interface thread.
#include "tests/serial/FakeUiThread.h"

TFakeUiThread::TFakeUiThread() : uiThread_(std::this_thread::get_id()) {}

void TFakeUiThread::Synchronize(const std::function<void()>& call) {
  if (InUiThread()) {
    call();
    return;
  }
  auto event = std::make_shared<TEvent>();
  event->call = call;
  std::future<void> done = event->done.get_future();
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(event);
  }
  posted_.notify_all();
  done.get();
}

bool TFakeUiThread::InUiThread() const {
  return std::this_thread::get_id() == uiThread_;
}

void TFakeUiThread::ProcessPendingEvents() {
  ++processCalls_;
  std::deque<std::shared_ptr<TEvent>> pending;
  {
    std::lock_guard lock(mutex_);
    pending.swap(queue_);
  }
  for (const auto& event : pending) {
    try {
      event->call();
      event->done.set_value();
    } catch (...) {
      event->done.set_exception(std::current_exception());
    }
  }
}

bool TFakeUiThread::WaitForPending(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return posted_.wait_for(lock, timeout, [this] { return !queue_.empty(); });
}

void TFakeUiThread::Post(std::function<void()> call) {
  auto event = std::make_shared<TEvent>();
  event->call = std::move(call);
  std::lock_guard lock(mutex_);
  queue_.push_back(event);
}

bool TFakeUiThread::WaitUntil(const std::function<bool()>& condition,
                              std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    ProcessPendingEvents();
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::unique_lock lock(mutex_);
    posted_.wait_for(lock, std::chrono::milliseconds(1), [this] { return !queue_.empty(); });
  }
}
