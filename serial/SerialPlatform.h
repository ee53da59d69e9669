// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The operating system's side of the serial port component: opening devices, the list of
// ports present, threads and timer resolution. Each TSerialPort is given one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "SerialDevice.h"

// One port present: its name as listed and the device it resolves to.
struct TListedPort {
  std::string Name;
  std::string DevicePath;
};

// A platform decides by the path what kind of device it opens, so one that knows several kinds
// (a local device, a network port) can list and open them side by side.
class TSerialPlatform {
 public:
  virtual ~TSerialPlatform() = default;
  // Null with the operator's reason ("No such file or directory") when it does not open.
  virtual std::unique_ptr<TSerialDevice> OpenDevice(const std::string& path,
                                                    std::string& reason) = 0;
  // Upper-case, trimmed, non-empty names, each with its device.
  virtual std::vector<TListedPort> ListPorts() const = 0;
  // The device a port name opens when no listed port has that name.
  virtual std::string UnlistedDevicePath(std::string_view name) const = 0;
  // The same device, compared by device number; false when either cannot be examined.
  virtual bool SameDevice(const std::string& path, const std::string& otherPath) const = 0;
  virtual void RequestTimerResolution() = 0;
  virtual void ReleaseTimerResolution() = 0;
  // Level 0 (idle) to 6 (time critical), 3 normal, for a running thread, by the identifier
  // that CurrentThreadId gave on it.
  virtual void SetThreadPriority(std::int64_t threadId, int level) = 0;
  virtual std::int64_t CurrentThreadId() const = 0;
  // Runs `body` on a new thread; throws std::system_error when the system refuses one.
  virtual std::thread StartThread(std::function<void()> body) = 0;
};

// The platform of this system's own serial devices, chosen at build time.
std::shared_ptr<TSerialPlatform> SystemSerialPlatform();
