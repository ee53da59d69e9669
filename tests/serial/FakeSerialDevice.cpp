// The test's serial device.
#include "FakeSerialDevice.h"

#include <algorithm>

void TFakeLine::Arrive(const std::string& bytes) {
  std::lock_guard lock(mutex_);
  waiting_ += bytes;
}

void TFakeLine::SetFailReads(bool fail) {
  std::lock_guard lock(mutex_);
  failReads_ = fail;
}

void TFakeLine::SetRefuseSettings(bool refuse) {
  std::lock_guard lock(mutex_);
  refuseSettings_ = refuse;
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

bool TFakeSerialDevice::ApplyLineSettings(const TLineSettings&, std::string& reason) {
  std::lock_guard lock(line_->mutex_);
  if (!line_->refuseSettings_) return true;
  reason = "Invalid argument";
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

std::size_t TFakeSerialDevice::Read(char* buffer, std::size_t size) {
  std::lock_guard lock(line_->mutex_);
  ++line_->reads_;
  if (line_->failReads_) return 0;
  const std::size_t count = std::min(size, line_->waiting_.size());
  std::copy_n(line_->waiting_.begin(), count, buffer);
  line_->waiting_.erase(0, count);
  return count;
}

std::size_t TFakeSerialDevice::Write(const char* data, std::size_t size) {
  std::lock_guard lock(line_->mutex_);
  line_->written_.append(data, size);
  return size;
}

void TFakeSerialDevice::Close() {
  std::lock_guard lock(line_->mutex_);
  line_->closed_ = true;
}
