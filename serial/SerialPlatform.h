// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The operating system's side of the serial port component: opening devices, the list of
// ports present, threads and timer resolution. Each TSerialPort is given one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "serial/ActivityWatch.h"
#include "serial/SerialDevice.h"

// One port present: its name as listed, the device it resolves to and the port directory's
// entry that names it (empty for a device found by itself).
struct TListedPort {
  std::string Name;
  std::string DevicePath;
  std::string LinkPath;
  bool operator==(const TListedPort&) const = default;
};

// Set when an open in progress is no longer wanted; null for an open that nobody cancels.
using TCancelFlag = std::shared_ptr<const std::atomic<bool>>;

// A platform decides by the path what kind of device it opens, so one that knows several kinds
// (a local device, a network port) can list and open them side by side.
class TSerialPlatform {
 public:
  virtual ~TSerialPlatform() = default;
  // Null with the reason when it does not open; a slow open (a network station) gives up soon
  // after `cancelled` is set.
  virtual std::unique_ptr<TSerialDevice> OpenDevice(const std::string& path, TDeviceError& error,
                                                    const TCancelFlag& cancelled) = 0;
  // Upper-case, trimmed, non-empty names, each with its device.
  virtual std::vector<TListedPort> ListPorts() const = 0;
  // Whether a port that ListPorts gave is surely still listed under its name for the same
  // device, at the cost of a few system calls whatever the number of ports; false leaves it to
  // ListPorts.
  virtual bool IsStillListed(const TListedPort& port) const = 0;
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
  // Runs `body` on a new thread; a thread that cannot be joined, with the reason, when the
  // system refuses one.
  virtual std::thread StartThread(std::function<void()> body, TDeviceError& error) = 0;
  // A watch that wakes the receive thread of `device` only when there is something to look at;
  // null when the platform cannot tell (the thread then looks every Delay).
  virtual std::unique_ptr<TActivityWatch> WatchActivity(TSerialDevice&) { return nullptr; }
};

// The platform of this system's own serial devices, chosen at build time.
std::shared_ptr<TSerialPlatform> SystemSerialPlatform();

// Makes every waiting and every later write of every serial port fail at once, for good (the
// program is ending). Safe in a signal handler.
void AbortSerialWrites() noexcept;
bool SerialWritesAborted() noexcept;
