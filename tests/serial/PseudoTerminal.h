// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A pseudo-terminal pair for the serial tests: the port opens the slave side through a link
// in the port directory, the test plays the far end on the master side.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

class TPseudoTerminal {
 public:
  TPseudoTerminal();
  ~TPseudoTerminal();
  TPseudoTerminal(const TPseudoTerminal&) = delete;
  TPseudoTerminal& operator=(const TPseudoTerminal&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int Slave() const { return slave_; }
  // The tuner's side: bytes written here arrive at the port.
  void Write(std::string_view bytes);
  // What the port wrote, collected until nothing more comes for `quiet`.
  std::string Read(std::chrono::milliseconds quiet = std::chrono::milliseconds(50));
  // The far end goes away: the slave device vanishes with it.
  void CloseMaster();
  // Leaves the port as the only user of the slave side.
  void CloseSlave();
  // Nobody holds the slave side open any more.
  bool SlaveReleased() const;

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};
