// The test's serial platform.
#include "FakeSerialPlatform.h"

#include <cerrno>
#include <system_error>

void TFakeSerialPlatform::SetAfterThreadStart(std::function<void()> hook) {
  std::lock_guard lock(hookMutex_);
  afterThreadStart_ = std::move(hook);
}

std::unique_ptr<TSerialDevice> TFakeSerialPlatform::OpenDevice(const std::string& path,
                                                               std::string& reason) {
  if (path != "fake:COM7") {
    reason = "No such file or directory";
    return nullptr;
  }
  return std::make_unique<TFakeSerialDevice>(line_);
}

std::vector<TListedPort> TFakeSerialPlatform::ListPorts() const {
  if (!listed_) return {};
  return {TListedPort{"COM7", "fake:COM7"}};
}

std::string TFakeSerialPlatform::UnlistedDevicePath(std::string_view name) const {
  return "fake:" + std::string(name);
}

std::thread TFakeSerialPlatform::StartThread(std::function<void()> body) {
  if (refuseThreads_) throw std::system_error(EAGAIN, std::generic_category());
  std::thread thread(std::move(body));
  std::function<void()> hook;
  {
    std::lock_guard lock(hookMutex_);
    hook = afterThreadStart_;
  }
  if (hook) hook();
  return thread;
}
