// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A serial device opened through termios: the Linux side of TSerialDevice.
#pragma once

#include <termios.h>

#include <atomic>
#include <memory>
#include <string>

#include "serial/SerialDevice.h"
#include "serial/WriteTimeouts.h"

class TPosixSerialDevice final : public TSerialDevice {
 public:
  // Opens for exclusive use; null with the reason when that fails.
  static std::unique_ptr<TPosixSerialDevice> Open(const std::string& path, TDeviceError& error);

  // The termios that stand for the settings, speed given as its Bxxx code.
  static termios Termios(const TLineSettings& settings, unsigned speedCode);

  TPosixSerialDevice(int fd, std::string path);
  ~TPosixSerialDevice() override;
  TPosixSerialDevice(const TPosixSerialDevice&) = delete;
  TPosixSerialDevice& operator=(const TPosixSerialDevice&) = delete;

  bool ApplyLineSettings(const TLineSettings& settings, TDeviceError& error) override;
  void ApplyTimeouts(const TTimeouts& timeouts) override;
  void ApplyBufferSizes(std::uint32_t input, std::uint32_t output) override;
  void PurgeInput() override;
  std::optional<std::size_t> BytesWaiting() override;
  TTransfer Read(char* buffer, std::size_t size) override;
  TTransfer Write(const char* data, std::size_t size,
                  std::chrono::milliseconds longestWait) override;
  std::optional<std::uint8_t> ModemStatus() override;
  void Close() override;
  // Hung up: the device went away, even when another one has taken its name and node by now.
  bool Lost() const override;
  // The open descriptor; its modem line changes wake no poll().
  TDeviceReadiness Readiness() const override { return {fd_, false, false}; }

 private:
  int fd_;
  const std::string path_;
  TWriteTimeouts writeTimeouts_;
  // The device has no modem lines to ask about (a pseudo-terminal): not asked again.
  std::atomic<bool> noModemLines_ = false;
};
