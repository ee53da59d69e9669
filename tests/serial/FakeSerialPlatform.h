// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A serial platform played by the test: one fake device behind every path, a port list the
// test sets, and threads that the system may refuse.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "serial/SerialPlatform.h"
#include "tests/serial/FakeSerialDevice.h"

class TFakeSerialPlatform final : public TSerialPlatform {
 public:
  TFakeSerialPlatform() : line_(std::make_shared<TFakeLine>()) {}

  const std::shared_ptr<TFakeLine>& Line() const { return line_; }
  // Whether COM7 is among the ports present (it is at first). A change wakes a sleeping
  // receive thread, as the watch of a port directory entry does.
  void SetListed(bool listed);
  // The next thread starts fail as the system fails them when it is out of threads.
  void SetRefuseThreads(bool refuse) { refuseThreads_ = refuse; }
  // Runs on the opening thread right after each receive thread has started.
  void SetAfterThreadStart(std::function<void()> hook);

  std::unique_ptr<TSerialDevice> OpenDevice(const std::string& path, TDeviceError& error,
                                            const TCancelFlag& cancelled) override;
  std::vector<TListedPort> ListPorts() const override;
  bool IsStillListed(const TListedPort&) const override { return listed_; }
  std::string UnlistedDevicePath(std::string_view name) const override;
  bool SameDevice(const std::string& path, const std::string& otherPath) const override {
    return path == otherPath;
  }
  void RequestTimerResolution() override {}
  void ReleaseTimerResolution() override {}
  void SetThreadPriority(std::int64_t, int) override {}
  std::int64_t CurrentThreadId() const override { return 0; }
  std::thread StartThread(std::function<void()> body, TDeviceError& error) override;
  // The receive thread sleeps until bytes come or it is woken, as on a real device.
  std::unique_ptr<TActivityWatch> WatchActivity(TSerialDevice&) override;

 private:
  std::shared_ptr<TFakeLine> line_;
  std::atomic<bool> listed_ = true;
  std::atomic<bool> refuseThreads_ = false;
  std::mutex hookMutex_;
  std::function<void()> afterThreadStart_;
};
