// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A pseudo-terminal pair for everything that plays the tuner's end of the line (the simulator,
// the tests, the benchmarks): the far end writes and reads the master side, and the slave side
// stays open here, so that the program can close and reopen the port without a hang-up.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

class TPseudoTerminal {
 public:
  // Raw, 9600 bits per second, both sides non-blocking. Throws std::system_error when no
  // pseudo-terminal can be had.
  TPseudoTerminal();
  ~TPseudoTerminal();
  TPseudoTerminal(const TPseudoTerminal&) = delete;
  TPseudoTerminal& operator=(const TPseudoTerminal&) = delete;

  int Master() const { return master_; }
  int Slave() const { return slave_; }
  const std::string& SlavePath() const { return slavePath_; }

  // All of it, or std::system_error.
  void Write(std::string_view bytes);
  // What arrives until nothing more has come for `quiet`.
  std::string Read(std::chrono::milliseconds quiet = std::chrono::milliseconds(50));
  // Lifts an exclusive mode that a program set and did not lift when it closed.
  void ReleaseExclusive();
  void DiscardUnread();
  // Whether every program has let go of the slave side (seen as a hang-up on the master).
  bool SlaveReleased() const;
  void CloseMaster();
  void CloseSlave();
  void Close();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};
