// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The receive thread of an open serial port.
#include "ComThread.h"

#include <chrono>
#include <limits>
#include <new>
#include <string>

#include "SerialPlatform.h"
#include "SerialPort.h"

namespace {

thread_local TComThread* runningThread = nullptr;

std::uint8_t LineStatusBits(std::optional<std::uint8_t> modemStatus) {
  if (!modemStatus) return 0;
  TLineStatusSet set;
  if (*modemStatus & ModemCts) set.Include(lsCTS);
  if (*modemStatus & ModemDsr) set.Include(lsDSR);
  if (*modemStatus & ModemRing) set.Include(lsRING);
  if (*modemStatus & ModemRlsd) set.Include(lsRLSD);
  return set.Bits();
}

}  // namespace

TComThread::TComThread(TSerialPort& owner, std::unique_ptr<TSerialDevice> device,
                       std::uint64_t generation)
    : owner_(owner),
      generation_(generation),
      device_(std::move(device)),
      deviceOpen_(device_ != nullptr),
      priorityLevel_(owner.Priority()) {}

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
  thread_ = std::thread([this] { Execute(); });
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

TComThread* TComThread::RunningFor(const TSerialPort& owner) {
  return runningThread && &runningThread->owner_ == &owner ? runningThread : nullptr;
}

void TComThread::EndWithoutLoop() {
  stop_ = true;
  EndingSequence();
  finished_ = true;
}

void TComThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TComThread::SetPriority(int level) {
  priorityLevel_ = level;
  if (const std::int64_t id = systemThreadId_; id != 0) {
    owner_.platform_.SetThreadPriority(id, level);
  }
}

bool TComThread::WithDevice(const std::function<void(TSerialDevice&)>& use) {
  std::lock_guard lock(deviceMutex_);
  if (!deviceOpen_) return false;
  use(*device_);
  return true;
}

void TComThread::Execute() {
  runningThread = this;
  systemThreadId_ = owner_.platform_.CurrentThreadId();
  owner_.platform_.SetThreadPriority(systemThreadId_, priorityLevel_);
  while (!stop_ && deviceOpen_) Pass();
  EndingSequence();
  runningThread = nullptr;
  finished_ = true;
  owner_.WakeWaiters();
}

void TComThread::Pass() {
  UpdateLineStatus();
  if (stop_ || !deviceOpen_) return;
  Receive();
  if (stop_ || !deviceOpen_) return;
  Pause();
}

void TComThread::UpdateLineStatus() {
  const std::uint8_t bits = LineStatusBits(device_->ModemStatus());
  if (bits == owner_.lineStatus_) return;
  owner_.lineStatus_ = bits;
  try {
    owner_.Deliver(static_cast<bool>(owner_.OnLineStatusChange), [this] {
      if (owner_.OnLineStatusChange) owner_.OnLineStatusChange(&owner_, owner_.LineStatus());
    });
  } catch (...) {
    // A failing line status handler must not end reception.
  }
}

void TComThread::Receive() {
  try {
    const std::size_t waiting = device_->BytesWaiting().value_or(0);
    if (waiting == 0) {
      owner_.CheckPresence();
    } else if (owner_.autoReceive_) {
      owner_.receiving_ = true;
      std::string chunk(waiting, '\0');
      chunk.resize(device_->Read(chunk.data(), waiting));
      if (chunk.empty()) {
        owner_.CheckPresence();
      } else {
        {
          std::lock_guard lock(owner_.textMutex_);
          owner_.lastReceived_ = chunk;
          if (owner_.keepEntireBuffer_) {
            try {
              owner_.entireBuffer_ += chunk;
            } catch (const std::bad_alloc&) {
              owner_.entireBuffer_.clear();
              owner_.entireBuffer_.shrink_to_fit();
            }
          }
        }
        owner_.Deliver(static_cast<bool>(owner_.OnReceive), [this, &chunk] {
          if (owner_.OnReceive) owner_.OnReceive(&owner_, chunk);
        });
        if (owner_.logInput_) owner_.WriteLogEntry(chunk);
      }
      owner_.receiving_ = false;
    } else {
      const auto count = static_cast<std::uint32_t>(
          std::min<std::size_t>(waiting, std::numeric_limits<std::uint32_t>::max()));
      if (count > owner_.announcedCount_) {
        owner_.announcedCount_ = count;
        owner_.Deliver(static_cast<bool>(owner_.OnReceive), [this] {
          if (owner_.OnReceive) owner_.OnReceive(&owner_, std::string());
        });
      }
    }
  } catch (...) {
    owner_.receiving_ = false;
    try {
      owner_.CheckPresence();
    } catch (...) {
      // The fault handler failed as well; the port has been closed all the same.
    }
  }
}

void TComThread::Pause() {
  std::unique_lock lock(pauseMutex_);
  pauseCondition_.wait_for(lock, std::chrono::milliseconds(owner_.Delay()),
                           [this] { return stop_.load(); });
}

void TComThread::EndingSequence() {
  try {
    if (owner_.IsLatestGeneration(generation_) && owner_.ConnectedPort() != spNone) {
      owner_.Deliver(static_cast<bool>(owner_.OnDisconnect), [this] {
        const TCommPort port = owner_.ConnectedPort();
        if (port != spNone && owner_.OnDisconnect) owner_.OnDisconnect(&owner_, port);
      });
    }
  } catch (...) {
    // The port is closed whatever the disconnect handler does.
  }
  {
    std::lock_guard lock(deviceMutex_);
    if (deviceOpen_) {
      deviceOpen_ = false;
      device_->Close();
      device_.reset();
    }
  }
  owner_.EndConnection(generation_);
}
