// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The test's serial platform.
#include "FakeSerialPlatform.h"

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
