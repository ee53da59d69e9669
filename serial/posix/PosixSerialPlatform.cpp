// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The Linux serial platform: termios devices and network stations, the port directory and /dev
// for the port list, nice values for the receive thread's priority.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

#include "serial/NetworkPorts.h"
#include "serial/PortsDirectory.h"
#include "serial/SerialPlatform.h"
#include "serial/posix/DeviceError.h"
#include "serial/posix/PortList.h"
#include "serial/posix/PosixActivityWatch.h"
#include "serial/posix/PosixSerialDevice.h"

namespace {

// Nice values for the seven priority levels, idle to time critical. Raising needs
// CAP_SYS_NICE; without it the thread keeps its priority.
constexpr int NiceValues[] = {19, 10, 5, 0, -5, -10, -20};

class TPosixSerialPlatform final : public TSerialPlatform {
 public:
  std::unique_ptr<TSerialDevice> OpenDevice(const std::string& path, TDeviceError& error,
                                            const TCancelFlag& cancelled) override {
    if (const std::shared_ptr<TNetworkPorts> stations = NetworkPorts();
        stations && stations->IsAddress(path)) {
      return stations->Open(path, error, cancelled);
    }
    return TPosixSerialDevice::Open(path, error);
  }

  std::vector<TListedPort> ListPorts() const override {
    const TPortsDirectoryPlace directory = PortsDirectoryPlace();
    return ListPresentPorts(directory.Path, directory.Named);
  }

  bool IsStillListed(const TListedPort& port) const override {
    return ::IsStillListed(port, PortsDirectory());
  }

  std::string UnlistedDevicePath(std::string_view name) const override {
    // A network address names its station itself.
    if (IsNetworkAddress(name)) return std::string(name);
    return "/dev/" + std::string(name);
  }

  bool SameDevice(const std::string& path, const std::string& otherPath) const override {
    struct stat one {};
    struct stat other {};
    if (::stat(path.c_str(), &one) != 0 || ::stat(otherPath.c_str(), &other) != 0) return false;
    if (S_ISCHR(one.st_mode) || S_ISCHR(other.st_mode)) {
      return S_ISCHR(one.st_mode) && S_ISCHR(other.st_mode) && one.st_rdev == other.st_rdev;
    }
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
  }

  // Linux timers are not coarse the way the 1 ms request works around; the bookkeeping of
  // requests stays with the serial port object.
  void RequestTimerResolution() override {}
  void ReleaseTimerResolution() override {}

  void SetThreadPriority(std::int64_t threadId, int level) override {
    if (level < 0 || level > 6) return;
    setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), NiceValues[level]);
  }

  std::int64_t CurrentThreadId() const override { return gettid(); }

  std::thread StartThread(std::function<void()> body, TDeviceError& error) override {
    try {
      return std::thread(std::move(body));
    } catch (const std::system_error& failure) {
      error = DeviceError(failure.code().value(), std::string());
      return std::thread();
    }
  }

  std::unique_ptr<TActivityWatch> WatchActivity(TSerialDevice& device) override {
    const TDeviceReadiness readiness = device.Readiness();
    if (readiness.Descriptor < 0) return nullptr;
    return TPosixActivityWatch::Create(readiness.Descriptor, readiness.SignalsItsEnd);
  }
};

}  // namespace

std::shared_ptr<TSerialPlatform> SystemSerialPlatform() {
  return std::make_shared<TPosixSerialPlatform>();
}
