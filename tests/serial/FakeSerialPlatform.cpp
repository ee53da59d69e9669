// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The test's serial platform.
#include "tests/serial/FakeSerialPlatform.h"

namespace {

class TFakeActivityWatch final : public TActivityWatch {
 public:
  explicit TFakeActivityWatch(std::shared_ptr<TFakeLine> line) : line_(std::move(line)) {}
  void WatchEntry(const std::optional<TListedPort>&) override {}
  bool Wait(std::optional<std::chrono::milliseconds> timeout) override {
    return line_->WaitForActivity(timeout);
  }
  void Wake() override { line_->Wake(); }

 private:
  std::shared_ptr<TFakeLine> line_;
};

}  // namespace

void TFakeSerialPlatform::SetListed(bool listed) {
  listed_ = listed;
  line_->Wake();
}

void TFakeSerialPlatform::SetAfterThreadStart(std::function<void()> hook) {
  std::lock_guard lock(hookMutex_);
  afterThreadStart_ = std::move(hook);
}

std::unique_ptr<TSerialDevice> TFakeSerialPlatform::OpenDevice(const std::string& path,
                                                               TDeviceError& error,
                                                               const TCancelFlag&) {
  if (path != "fake:COM7") {
    error = TDeviceError{TSerialErrorKind::NotFound, "No such file or directory"};
    return nullptr;
  }
  return std::make_unique<TFakeSerialDevice>(line_);
}

std::vector<TListedPort> TFakeSerialPlatform::ListPorts() const {
  if (!listed_) return {};
  return {TListedPort{"COM7", "fake:COM7", {}}};
}

std::string TFakeSerialPlatform::UnlistedDevicePath(std::string_view name) const {
  return "fake:" + std::string(name);
}

std::thread TFakeSerialPlatform::StartThread(std::function<void()> body, TDeviceError& error) {
  if (refuseThreads_) {
    error = TDeviceError{TSerialErrorKind::OutOfResources, "Resource temporarily unavailable"};
    return std::thread();
  }
  std::thread thread(std::move(body));
  std::function<void()> hook;
  {
    std::lock_guard lock(hookMutex_);
    hook = afterThreadStart_;
  }
  if (hook) hook();
  return thread;
}

std::unique_ptr<TActivityWatch> TFakeSerialPlatform::WatchActivity(TSerialDevice&) {
  return std::make_unique<TFakeActivityWatch>(line_);
}
