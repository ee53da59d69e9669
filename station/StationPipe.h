// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The byte pipe of a station connection: what gensio hands in waits in an inbox for the receive
// thread, the station held back at a full inbox; writes go out within their deadline; the modem
// lines' news; the descriptor that wakes the receive thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "serial/SerialDevice.h"
#include "serial/ThreadSafety.h"
#include "serial/WriteTimeouts.h"
#include "serial/posix/ReadySignal.h"

struct gensio;

class TStationPipe {
 public:
  using TClock = std::chrono::steady_clock;

  // `lost` is the connection's end, which the pipe reads; `onLost` runs, with no lock of the
  // pipe held, when gensio refuses a write; `onHold` is told when reading is held back at a full
  // inbox and when it resumes (before it resumes).
  TStationPipe(const std::atomic<bool>& lost, std::function<void()> onLost,
               std::function<void(bool)> onHold);

  // The connection, before gensio hands in anything.
  void Attach(gensio* io) { io_ = io; }
  // On the loop: gensio's bytes, its room for more, the station's modem lines.
  void Received(const char* bytes, std::size_t length) EXCLUDES(mutex_);
  void WriteReady() EXCLUDES(mutex_);
  void ModemNews(std::uint8_t lines) EXCLUDES(mutex_);
  // The connection ended or the writes were aborted: readable, and a waiting write looks again.
  void Wake() EXCLUDES(mutex_);

  void ApplyTimeouts(const TTimeouts& timeouts) { writeTimeouts_.Apply(timeouts); }
  void ApplyInputQueue(std::uint32_t size) { inputQueue_ = size; }
  void Purge() EXCLUDES(mutex_);
  std::size_t BytesWaiting() EXCLUDES(mutex_);
  TTransfer Read(char* buffer, std::size_t size) EXCLUDES(mutex_);
  TTransfer Write(const char* data, std::size_t size, std::chrono::milliseconds longestWait)
      EXCLUDES(mutex_);
  std::uint8_t TakeModemLines() EXCLUDES(mutex_);
  int Descriptor() const { return ready_.Descriptor(); }
  // When the first write went out; none before.
  std::optional<TClock::time_point> FirstWrite() const EXCLUDES(mutex_);

 private:
  // Readable exactly while there is news for the receive thread.
  void UpdateReadiness() REQUIRES(mutex_);
  // Whether reading held back may resume now that the inbox holds no more than `resumeAt`.
  bool Resumes(std::size_t resumeAt) REQUIRES(mutex_);
  void Resume() EXCLUDES(mutex_);

  const std::atomic<bool>& lost_;
  const std::function<void()> onLost_;
  const std::function<void(bool)> onHold_;
  gensio* io_ = nullptr;
  TWriteTimeouts writeTimeouts_;
  // The port's input queue size; 0 (not given): no bound on one read.
  std::atomic<std::uint32_t> inputQueue_ = 0;
  std::atomic<std::uint8_t> modemLines_ = 0;

  mutable TMutex mutex_;
  // Notified by the room to write and by Wake.
  std::condition_variable changed_;
  std::string inbox_ GUARDED_BY(mutex_);
  bool readPaused_ GUARDED_BY(mutex_) = false;
  bool writeReady_ GUARDED_BY(mutex_) = false;
  bool modemChanged_ GUARDED_BY(mutex_) = false;
  std::optional<TClock::time_point> firstWrite_ GUARDED_BY(mutex_);
  // Set under mutex_; its descriptor is fixed.
  TReadySignal ready_;
};
