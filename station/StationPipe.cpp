// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The inbox is filled on the station loop and emptied by the receive thread; a write that finds
// gensio full waits on a condition variable that the loop's write-ready event notifies.
#include "station/StationPipe.h"

#include <gensio/gensio.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "serial/SerialPlatform.h"
#include "serial/Trace.h"

namespace {

// The received text is kept here until the receive thread takes it; past this much the
// station is held back (TCP flow control) instead of growing the queue without end.
constexpr std::size_t InboxLimit = 1 << 20;

}  // namespace

TStationPipe::TStationPipe(const std::atomic<bool>& lost, std::function<void()> onLost,
                           std::function<void(bool)> onHold)
    : lost_(lost), onLost_(std::move(onLost)), onHold_(std::move(onHold)) {}

void TStationPipe::Received(const char* bytes, std::size_t length) {
  bool held = false;
  {
    TMutexLock lock(mutex_);
    inbox_.append(bytes, length);
    if (inbox_.size() >= InboxLimit && !readPaused_) {
      readPaused_ = held = true;
      gensio_set_read_callback_enable(io_, false);
    }
    UpdateReadiness();
  }
  if (held) onHold_(true);
}

void TStationPipe::WriteReady() {
  TMutexLock lock(mutex_);
  writeReady_ = true;
  gensio_set_write_callback_enable(io_, false);
  changed_.notify_all();
}

void TStationPipe::ModemNews(std::uint8_t lines) {
  TMutexLock lock(mutex_);
  if (modemLines_.exchange(lines) != lines) {
    modemChanged_ = true;
    UpdateReadiness();
  }
}

void TStationPipe::Wake() {
  TMutexLock lock(mutex_);
  UpdateReadiness();
  changed_.notify_all();
}

void TStationPipe::UpdateReadiness() {
  ready_.Set(!inbox_.empty() || lost_ || modemChanged_);
}

bool TStationPipe::Resumes(std::size_t resumeAt) {
  if (!readPaused_ || inbox_.size() > resumeAt || lost_) return false;
  readPaused_ = false;
  return true;
}

void TStationPipe::Resume() {
  // Told before reading resumes: the station counts as heard until then. Only the one who
  // cleared readPaused_ comes here, and gensio hands in nothing while reading is off.
  onHold_(false);
  gensio_set_read_callback_enable(io_, true);
}

void TStationPipe::Purge() {
  bool resumes = false;
  {
    TMutexLock lock(mutex_);
    inbox_.clear();
    // Reading resumes only as the inbox empties; emptied here, nothing else would resume it.
    resumes = Resumes(0);
    UpdateReadiness();
  }
  if (resumes) Resume();
}

std::size_t TStationPipe::BytesWaiting() {
  TMutexLock lock(mutex_);
  const std::size_t queue = inputQueue_;
  return queue == 0 ? inbox_.size() : std::min(inbox_.size(), queue);
}

TTransfer TStationPipe::Read(char* buffer, std::size_t size) {
  TTransfer result;
  bool resumes = false;
  {
    TMutexLock lock(mutex_);
    if (inbox_.empty() && lost_ && size > 0) return TTransfer{0, TSerialErrorKind::Vanished};
    result.Count = std::min(size, inbox_.size());
    std::memcpy(buffer, inbox_.data(), result.Count);
    inbox_.erase(0, result.Count);
    resumes = Resumes(InboxLimit / 2);
    UpdateReadiness();
  }
  if (resumes) Resume();
  return result;
}

TTransfer TStationPipe::Write(const char* data, std::size_t size,
                              std::chrono::milliseconds longestWait) {
  const TClock::time_point deadline = writeTimeouts_.Deadline(size, longestWait);
  TTransfer result;
  while (result.Count < size && !lost_) {
    gensiods count = 0;
    {
      TMutexLock lock(mutex_);
      writeReady_ = false;
    }
    if (gensio_write(io_, &count, data + result.Count, size - result.Count, nullptr) != 0) {
      onLost_();
      break;
    }
    result.Count += count;
    if (result.Count == size) break;
    gensio_set_write_callback_enable(io_, true);
    // The room, the loss or the abort (Wake) ends the wait.
    TMutexLock lock(mutex_);
    while (!writeReady_ && !lost_ && !SerialWritesAborted() && lock.WaitUntil(changed_, deadline)) {
    }
    if (SerialWritesAborted()) {
      result.Failure = TSerialErrorKind::WriteAborted;
      break;
    }
    if (!writeReady_ && !lost_) {
      result.Failure = TSerialErrorKind::WriteTimedOut;
      break;
    }
  }
  if (result.Count < size && lost_) result.Failure = TSerialErrorKind::Vanished;
  if (result.Count > 0) {
    TMutexLock lock(mutex_);
    if (!firstWrite_) firstWrite_ = TClock::now();
  }
  return result;
}

std::uint8_t TStationPipe::TakeModemLines() {
  TMutexLock lock(mutex_);
  modemChanged_ = false;
  UpdateReadiness();
  return modemLines_.load();
}

std::optional<TStationPipe::TClock::time_point> TStationPipe::FirstWrite() const {
  TMutexLock lock(mutex_);
  return firstWrite_;
}
