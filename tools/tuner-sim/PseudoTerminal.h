// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The pseudo-terminal pair the simulated tuner talks through: it writes and reads the master
// side and keeps the slave side open itself, so that the program at the far end can close and
// reopen the port without the master seeing a hang-up.
#pragma once

#include <string>

class PseudoTerminal {
 public:
  // Throws std::system_error when no pseudo-terminal can be had.
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  int Master() const { return master_; }
  const std::string& SlavePath() const { return slave_path_; }

  // Lifts an exclusive-use lock left by the last program that held the port; see the .cpp.
  void ReleaseExclusive();

  // Drops what was sent towards the slave and has not been read.
  void DiscardUnread();

  // Closes both sides, as when an adapter is pulled out.
  void Close();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
};
