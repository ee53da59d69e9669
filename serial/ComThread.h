// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The receive thread of an open serial port: looks at the device every Delay milliseconds while
// there is anything to look at, delivers what arrived and the modem line changes, and on its
// way out closes the device.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "serial/SerialDevice.h"
#include "serial/SerialPlatform.h"

class TComThreadOwner;

class TComThread {
 public:
  // Takes over an open, configured device. The loop starts with Start.
  TComThread(TComThreadOwner& owner, TSerialPlatform& platform,
             std::unique_ptr<TSerialDevice> device, std::uint64_t generation, int priorityLevel);
  // Joins the thread unless it is the one being destroyed from.
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  // False with the reason when the system refuses the thread; nothing has run then.
  bool Start(TDeviceError& error);
  // Sets the stop flag and cuts the current pause or wait short.
  void Stop();
  // A thread that sleeps until the port has something to show looks at it once more.
  void LookAgain();
  bool StopRequested() const { return stop_; }
  // Passes made so far; the thread counts them itself, so that a test or benchmark can tell a
  // sleeping thread from a polling one whatever the load.
  std::uint64_t Passes() const { return passes_; }
  // In a wait without a time limit: nothing more happens until the port has something to show.
  bool Asleep() const { return asleep_; }
  bool Started() const { return started_; }
  // The loop and the ending sequence are over.
  bool Finished() const { return finished_; }
  bool IsCurrentThread() const;
  // The receive thread of that owner running on the calling thread; null on any other thread.
  static TComThread* RunningFor(const TComThreadOwner& owner);
  // For a thread that never started: the ending sequence on the calling thread.
  void EndWithoutLoop();
  void Join();
  void SetPriority(int level);
  std::uint64_t Generation() const { return generation_; }

  // Runs `use` with the device unless it has been released; false then.
  bool WithDevice(const std::function<void(TSerialDevice&)>& use);
  // Purges and closes the device unless that has been done. Safe from another thread only
  // while this one is stopped or parked in a hand-over (HandlerRunning): it touches the device
  // between hand-overs without the lock.
  void ReleaseDevice();

  // A handler that this thread handed over is running on the user-interface thread, and the
  // thread waits for it to return.
  bool HandlerRunning() const { return handlersRunning_ > 0; }
  // Marks a handed-over handler as running for as long as it exists.
  class THandlerMark {
   public:
    explicit THandlerMark(TComThread* thread) : thread_(thread) {
      if (thread_) ++thread_->handlersRunning_;
    }
    ~THandlerMark() {
      if (thread_) --thread_->handlersRunning_;
    }
    THandlerMark(const THandlerMark&) = delete;
    THandlerMark& operator=(const THandlerMark&) = delete;

   private:
    TComThread* thread_;
  };

 private:
  void Execute();
  // `look`: the bytes waiting and the presence as well as the modem lines.
  void Pass(bool look);
  void Receive();
  void Pause();
  // Points the watch at the entry that the presence test last found; true when it moved.
  bool FollowPresenceEntry();
  // Sleeps until the port may have something to show; false when it surely has nothing.
  bool AwaitActivity();
  void EndingSequence();

  TComThreadOwner& owner_;
  TSerialPlatform& platform_;
  const std::uint64_t generation_;
  std::unique_ptr<TSerialDevice> device_;
  // Owner's writes hold it, so that the device is never closed under them.
  std::mutex deviceMutex_;
  std::atomic<bool> deviceOpen_;
  // Null when the platform cannot tell when there is something to look at.
  const std::unique_ptr<TActivityWatch> watch_;
  // Receive thread only.
  std::optional<TListedPort> watchedEntry_;
  bool entryWatched_ = false;
  // The device has answered for its modem lines, whose changes no wait hears: they are asked
  // for every Delay, as a poll would, so that LineStatus and a handler assigned at any time
  // see each change within one Delay. A device without them (a pseudo-terminal) may sleep.
  bool modemLines_ = false;

  std::atomic<bool> stop_ = false;
  std::atomic<std::uint64_t> passes_ = 0;
  std::atomic<bool> asleep_ = false;
  std::atomic<bool> started_ = false;
  std::atomic<bool> finished_ = false;
  std::atomic<int> handlersRunning_ = 0;
  std::atomic<std::int64_t> systemThreadId_ = 0;
  std::atomic<int> priorityLevel_;
  std::mutex pauseMutex_;
  std::condition_variable pauseCondition_;
  std::thread thread_;
};
