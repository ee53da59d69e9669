// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The receive thread of an open serial port.
#include "serial/ComThread.h"

#include <chrono>
#include <string>

#include "serial/ComThreadOwner.h"
#include "serial/SerialPlatform.h"
#include "serial/Trace.h"

namespace {

thread_local TComThread* runningThread = nullptr;
thread_local const TComThreadOwner* runningOwner = nullptr;

}  // namespace

TComThread::TComThread(TComThreadOwner& owner, TSerialPlatform& platform,
                       std::unique_ptr<TSerialDevice> device, std::uint64_t generation,
                       int priorityLevel)
    : owner_(owner),
      platform_(platform),
      generation_(generation),
      device_(std::move(device)),
      deviceOpen_(device_ != nullptr),
      watch_(device_ ? platform_.WatchActivity(*device_) : nullptr),
      priorityLevel_(priorityLevel) {}

TComThread::~TComThread() {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

bool TComThread::Start(TDeviceError& error) {
  // Marked before it runs: a first pass that closes the port must find its thread started.
  started_ = true;
  thread_ = platform_.StartThread([this] { Execute(); }, error);
  if (thread_.joinable()) return true;
  started_ = false;
  return false;
}

void TComThread::Stop() {
  {
    std::lock_guard lock(pauseMutex_);
    stop_ = true;
  }
  pauseCondition_.notify_all();
  LookAgain();
}

void TComThread::LookAgain() {
  if (watch_) watch_->Wake();
}

bool TComThread::IsCurrentThread() const {
  return runningThread == this;
}

TComThread* TComThread::RunningFor(const TComThreadOwner& owner) {
  return runningOwner == &owner ? runningThread : nullptr;
}

void TComThread::EndWithoutLoop() {
  stop_ = true;
  EndingSequence();
  finished_ = true;
  owner_.EndConnection(generation_);
}

void TComThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TComThread::SetPriority(int level) {
  priorityLevel_ = level;
  if (const std::int64_t id = systemThreadId_; id != 0) platform_.SetThreadPriority(id, level);
}

bool TComThread::WithDevice(const std::function<void(TSerialDevice&)>& use) {
  std::lock_guard lock(deviceMutex_);
  if (!deviceOpen_) return false;
  use(*device_);
  return true;
}

void TComThread::ReleaseDevice() {
  std::lock_guard lock(deviceMutex_);
  if (!deviceOpen_) return;
  deviceOpen_ = false;
  device_->Close();
}

void TComThread::Execute() {
  runningThread = this;
  runningOwner = &owner_;
  systemThreadId_ = platform_.CurrentThreadId();
  platform_.SetThreadPriority(systemThreadId_, priorityLevel_);
  ORVEL_TRACE(Serial, "receive thread starts");
  bool look = true;
  while (!stop_ && deviceOpen_) {
    // Watched before it is looked at: a change in between still wakes the next wait.
    if (FollowPresenceEntry()) look = true;
    Pass(look);
    if (stop_ || !deviceOpen_) break;
    Pause();
    if (stop_ || !deviceOpen_) break;
    // The pass may have found the name leading elsewhere (another link, another device): that
    // is watched before the thread sleeps, and looked at once more, since it may have changed
    // before it was watched.
    look = FollowPresenceEntry() || AwaitActivity();
  }
  EndingSequence();
  ORVEL_TRACE(Serial, "receive thread ends");
  runningThread = nullptr;
  runningOwner = nullptr;
  finished_ = true;
  // Last: the owner may join this thread and free it as soon as it sees the connection end.
  owner_.EndConnection(generation_);
}

void TComThread::Pass(bool look) {
  ++passes_;
  ORVEL_TRACE(Serial, look ? "pass" : "pass for the modem lines");
  try {
    const std::optional<std::uint8_t> status = device_->ModemStatus();
    // A failed query later on (a device going away) does not make its lines silent.
    if (status && !device_->Readiness().SignalsModemChanges) modemLines_ = true;
    owner_.ReportLineStatus(status);
  } catch (...) {
    // A failing line status handler must not end reception.
  }
  if (stop_ || !deviceOpen_ || !look) return;
  Receive();
}

void TComThread::Receive() {
  try {
    const std::size_t waiting = device_->BytesWaiting().value_or(0);
    if (waiting == 0) {
      owner_.CheckPresence();
    } else if (owner_.ReadsChunks()) {
      owner_.SetReceiving(true);
      std::string chunk(waiting, '\0');
      chunk.resize(device_->Read(chunk.data(), waiting).Count);
      if (chunk.empty()) {
        owner_.CheckPresence();
      } else {
        owner_.DeliverChunk(chunk);
      }
      owner_.SetReceiving(false);
    } else {
      owner_.AnnounceWaiting(waiting);
    }
  } catch (...) {
    owner_.SetReceiving(false);
    try {
      owner_.CheckPresence();
    } catch (...) {
      // The fault handler failed as well; the port has been closed all the same.
    }
  }
}

void TComThread::Pause() {
  ORVEL_TRACE(Serial, "pause %u ms", owner_.PassDelay());
  std::unique_lock lock(pauseMutex_);
  pauseCondition_.wait_for(lock, std::chrono::milliseconds(owner_.PassDelay()),
                           [this] { return stop_.load(); });
}

bool TComThread::FollowPresenceEntry() {
  if (!watch_ || !owner_.ChecksPresence()) return false;
  std::optional<TListedPort> entry = owner_.PresenceEntry();
  if (entryWatched_ && entry == watchedEntry_) return false;
  watch_->WatchEntry(entry);
  watchedEntry_ = std::move(entry);
  entryWatched_ = true;
  return true;
}

bool TComThread::AwaitActivity() {
  // A short Delay asks for polling, and skips the presence test that the watch stands in for.
  if (!watch_ || !owner_.ChecksPresence()) return true;
  // What came during the pause is read at once, as the next pass of a poll would.
  if (watch_->Wait(std::chrono::milliseconds(0))) return true;
  // No poll() hears a modem line change: a device that has modem lines is asked every Delay.
  if (modemLines_) return false;
  ORVEL_TRACE(Serial, "sleep");
  asleep_ = true;
  const bool woken = watch_->Wait(std::nullopt);
  asleep_ = false;
  ORVEL_TRACE(Serial, woken ? "woken" : "woken: nothing to look at");
  // The wake is where a poll's pause would have begun: the pass comes one Delay later, so that
  // bytes that follow the first within that time come with it as one chunk.
  if (woken) Pause();
  return woken;
}

void TComThread::EndingSequence() {
  try {
    owner_.AnnounceDisconnect(generation_);
  } catch (...) {
    // The port is closed whatever the disconnect handler does.
  }
  ReleaseDevice();
}
