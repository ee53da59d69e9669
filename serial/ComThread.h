// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The receive thread of an open serial port: polls the device every Delay milliseconds,
// delivers what arrived and the modem line changes, and on its way out closes the device.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "SerialDevice.h"

class TSerialPort;

class TComThread {
 public:
  // Takes over an open, configured device. The loop starts with Start.
  TComThread(TSerialPort& owner, std::unique_ptr<TSerialDevice> device, std::uint64_t generation);
  // Joins the thread unless it is the one being destroyed from.
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  void Start();
  // Sets the stop flag and cuts the current pause short.
  void Stop();
  bool StopRequested() const { return stop_; }
  bool Started() const { return started_; }
  // The ending sequence has run; nothing of the owner is touched any more.
  bool Finished() const { return finished_; }
  bool IsCurrentThread() const;
  // The receive thread of that owner running on the calling thread; null on any other thread.
  static TComThread* RunningFor(const TSerialPort& owner);
  // For a thread that never started: the ending sequence on the calling thread.
  void EndWithoutLoop();
  void Join();
  void SetPriority(int level);
  std::uint64_t Generation() const { return generation_; }

  // Runs `use` with the device unless the ending sequence has closed it; false then.
  bool WithDevice(const std::function<void(TSerialDevice&)>& use);

 private:
  void Execute();
  void Pass();
  void Receive();
  void Pause();
  void EndingSequence();
  void UpdateLineStatus();

  TSerialPort& owner_;
  const std::uint64_t generation_;
  std::unique_ptr<TSerialDevice> device_;
  // Owner's writes hold it, so the ending sequence never closes the device under them.
  std::mutex deviceMutex_;
  std::atomic<bool> deviceOpen_;

  std::atomic<bool> stop_ = false;
  std::atomic<bool> started_ = false;
  std::atomic<bool> finished_ = false;
  std::atomic<std::int64_t> systemThreadId_ = 0;
  std::atomic<int> priorityLevel_;
  std::mutex pauseMutex_;
  std::condition_variable pauseCondition_;
  std::thread thread_;
  std::atomic<std::thread::id> threadId_;
};
