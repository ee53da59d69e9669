// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A serial device played by the test: what waits in its receive queue, what was written, and
// failures that a pseudo-terminal cannot show on demand (refused settings, failing reads).
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "serial/SerialDevice.h"

// The device's state, shared by the test and the device the port has opened.
class TFakeLine {
 public:
  // Bytes the far end sends: they wait in the receive queue.
  void Arrive(const std::string& bytes);
  void SetFailReads(bool fail);
  void SetRefuseSettings(bool refuse);
  // Modem* bits that the device reports (none at first: a device without modem lines). Like a
  // real device's, a change wakes no waiting receive thread.
  void SetModemLines(std::optional<std::uint8_t> lines);
  // Waits until bytes wait, Wake is called or `timeout` has passed (none: no limit); true
  // unless it timed out. Bytes that wait end it at once, as they keep a descriptor readable.
  bool WaitForActivity(std::optional<std::chrono::milliseconds> timeout);
  void Wake();
  std::string Written() const;
  bool Closed() const;
  int Reads() const;

 private:
  friend class TFakeSerialDevice;
  mutable std::mutex mutex_;
  std::condition_variable activity_;
  bool woken_ = false;
  std::optional<std::uint8_t> modemLines_;
  std::string waiting_;
  std::string written_;
  bool failReads_ = false;
  bool refuseSettings_ = false;
  bool closed_ = false;
  int reads_ = 0;
};

class TFakeSerialDevice final : public TSerialDevice {
 public:
  explicit TFakeSerialDevice(std::shared_ptr<TFakeLine> line) : line_(std::move(line)) {}

  bool ApplyLineSettings(const TLineSettings& settings, TDeviceError& error) override;
  void ApplyTimeouts(const TTimeouts&) override {}
  void ApplyBufferSizes(std::uint32_t, std::uint32_t) override {}
  void PurgeInput() override;
  std::optional<std::size_t> BytesWaiting() override;
  TTransfer Read(char* buffer, std::size_t size) override;
  TTransfer Write(const char* data, std::size_t size,
                  std::chrono::milliseconds longestWait) override;
  std::optional<std::uint8_t> ModemStatus() override;
  void Close() override;

 private:
  std::shared_ptr<TFakeLine> line_;
};
