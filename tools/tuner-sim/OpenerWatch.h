// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Counts how often other programs hold the pseudo-terminal's slave side open, from the
// kernel's open and close notices on the device file.
#pragma once

#include <string>

class OpenerWatch {
 public:
  // Throws std::system_error when the kernel cannot watch the device.
  explicit OpenerWatch(const std::string& device);
  ~OpenerWatch();
  OpenerWatch(const OpenerWatch&) = delete;
  OpenerWatch& operator=(const OpenerWatch&) = delete;

  // Descriptor that becomes readable when there are notices to take.
  int Fd() const { return fd_; }

  // Takes the pending notices; true when there were any. An open and its close can come in
  // one batch, leaving the count as it was.
  bool Update();

  int Openers() const { return openers_; }
  bool EverOpened() const { return ever_opened_; }

 private:
  int fd_ = -1;
  int openers_ = 0;
  bool ever_opened_ = false;
};
