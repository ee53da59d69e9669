// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A serial device opened through termios: the Linux side of TSerialDevice.
#pragma once

#include <termios.h>

#include <atomic>
#include <memory>
#include <string>

#include "SerialDevice.h"

class TPosixSerialDevice final : public TSerialDevice {
 public:
  // Opens for exclusive use; null with the operator's reason when that fails.
  static std::unique_ptr<TPosixSerialDevice> Open(const std::string& path, std::string& reason);

  // The termios that stand for the settings, speed given as its Bxxx code.
  static termios Termios(const TLineSettings& settings, unsigned speedCode);

  TPosixSerialDevice(int fd, std::string path);
  ~TPosixSerialDevice() override;
  TPosixSerialDevice(const TPosixSerialDevice&) = delete;
  TPosixSerialDevice& operator=(const TPosixSerialDevice&) = delete;

  bool ApplyLineSettings(const TLineSettings& settings, std::string& reason) override;
  void ApplyTimeouts(const TTimeouts& timeouts) override;
  void ApplyBufferSizes(std::uint32_t input, std::uint32_t output) override;
  void PurgeInput() override;
  std::optional<std::size_t> BytesWaiting() override;
  std::size_t Read(char* buffer, std::size_t size) override;
  std::size_t Write(const char* data, std::size_t size) override;
  std::optional<std::uint8_t> ModemStatus() override;
  void Close() override;

 private:
  int fd_;
  const std::string path_;
  std::atomic<std::uint32_t> writeMultiplier_ = 0;
  std::atomic<std::uint32_t> writeConstant_ = 0;
};
