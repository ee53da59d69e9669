// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The test's serial device.
#include "tests/serial/FakeSerialDevice.h"

#include <algorithm>

void TFakeLine::Arrive(const std::string& bytes) {
  {
    std::lock_guard lock(mutex_);
    waiting_ += bytes;
  }
  activity_.notify_all();
}

void TFakeLine::SetFailReads(bool fail) {
  std::lock_guard lock(mutex_);
  failReads_ = fail;
}

void TFakeLine::SetRefuseSettings(bool refuse) {
  std::lock_guard lock(mutex_);
  refuseSettings_ = refuse;
}

void TFakeLine::SetModemLines(std::optional<std::uint8_t> lines) {
  std::lock_guard lock(mutex_);
  modemLines_ = lines;
}

bool TFakeLine::WaitForActivity(std::optional<std::chrono::milliseconds> timeout) {
  std::unique_lock lock(mutex_);
  auto active = [this] { return woken_ || !waiting_.empty(); };
  const bool activity =
      timeout ? activity_.wait_for(lock, *timeout, active) : (activity_.wait(lock, active), true);
  woken_ = false;
  return activity;
}

void TFakeLine::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  activity_.notify_all();
}

std::string TFakeLine::Written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

bool TFakeLine::Closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

int TFakeLine::Reads() const {
  std::lock_guard lock(mutex_);
  return reads_;
}

bool TFakeSerialDevice::ApplyLineSettings(const TLineSettings&, TDeviceError& error) {
  std::lock_guard lock(line_->mutex_);
  if (!line_->refuseSettings_) return true;
  error = TDeviceError{TSerialErrorKind::RefusedSetting, "Invalid argument"};
  return false;
}

void TFakeSerialDevice::PurgeInput() {
  std::lock_guard lock(line_->mutex_);
  line_->waiting_.clear();
}

std::optional<std::size_t> TFakeSerialDevice::BytesWaiting() {
  std::lock_guard lock(line_->mutex_);
  return line_->waiting_.size();
}

TTransfer TFakeSerialDevice::Read(char* buffer, std::size_t size) {
  std::lock_guard lock(line_->mutex_);
  ++line_->reads_;
  if (line_->failReads_) return TTransfer{0, TSerialErrorKind::Vanished};
  const std::size_t count = std::min(size, line_->waiting_.size());
  std::copy_n(line_->waiting_.begin(), count, buffer);
  line_->waiting_.erase(0, count);
  return TTransfer{count};
}

TTransfer TFakeSerialDevice::Write(const char* data, std::size_t size, std::chrono::milliseconds) {
  std::lock_guard lock(line_->mutex_);
  line_->written_.append(data, size);
  return TTransfer{size};
}

std::optional<std::uint8_t> TFakeSerialDevice::ModemStatus() {
  std::lock_guard lock(line_->mutex_);
  return line_->modemLines_;
}

void TFakeSerialDevice::Close() {
  std::lock_guard lock(line_->mutex_);
  line_->closed_ = true;
}
