// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The receive thread of an open serial port.
#include "ComThread.h"

#include <chrono>
#include <string>

#include "ComThreadOwner.h"
#include "SerialPlatform.h"

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
      priorityLevel_(priorityLevel) {}

TComThread::~TComThread() {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void TComThread::Start() {
  started_ = true;
  thread_ = platform_.StartThread([this] { Execute(); });
}

void TComThread::Stop() {
  {
    std::lock_guard lock(pauseMutex_);
    stop_ = true;
  }
  pauseCondition_.notify_all();
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
  while (!stop_ && deviceOpen_) Pass();
  EndingSequence();
  runningThread = nullptr;
  runningOwner = nullptr;
  finished_ = true;
  // Last: the owner may join this thread and free it as soon as it sees the connection end.
  owner_.EndConnection(generation_);
}

void TComThread::Pass() {
  try {
    owner_.ReportLineStatus(device_->ModemStatus());
  } catch (...) {
    // A failing line status handler must not end reception.
  }
  if (stop_ || !deviceOpen_) return;
  Receive();
  if (stop_ || !deviceOpen_) return;
  Pause();
}

void TComThread::Receive() {
  try {
    const std::size_t waiting = device_->BytesWaiting().value_or(0);
    if (waiting == 0) {
      owner_.CheckPresence();
    } else if (owner_.ReadsChunks()) {
      owner_.SetReceiving(true);
      std::string chunk(waiting, '\0');
      chunk.resize(device_->Read(chunk.data(), waiting));
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
  std::unique_lock lock(pauseMutex_);
  pauseCondition_.wait_for(lock, std::chrono::milliseconds(owner_.PassDelay()),
                           [this] { return stop_.load(); });
}

void TComThread::EndingSequence() {
  try {
    owner_.AnnounceDisconnect(generation_);
  } catch (...) {
    // The port is closed whatever the disconnect handler does.
  }
  ReleaseDevice();
}
