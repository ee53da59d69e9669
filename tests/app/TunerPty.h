// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A pseudo-terminal pair that plays the tuner's end of the line in tests, with a port
// directory link that makes the other end appear in Orvel's port list.
#pragma once

#include <string>

#include "tools/tuner-sim/PseudoTerminal.h"

class TTunerPty {
 public:
  TTunerPty();
  ~TTunerPty();
  TTunerPty(const TTunerPty&) = delete;
  TTunerPty& operator=(const TTunerPty&) = delete;

  const std::string& DevicePath() const { return pty_.SlavePath(); }
  // Links `directory/name` to the device, as the port directory names ports.
  void LinkAs(const std::string& directory, const std::string& name);
  void Write(const std::string& bytes);
  // Reads until `expected` has arrived (true) or the deadline has passed (false); everything
  // read is kept in Received().
  bool WaitFor(const std::string& expected, int timeoutMs = 3000);
  // Reads whatever arrives within the time: for checking that nothing more was written.
  std::string Drain(int timeoutMs);
  std::string& Received() { return received_; }
  // Closes the tuner's end, as an unplugged adapter would.
  void Hangup();

 private:
  void ReadSome(int timeoutMs);

  TPseudoTerminal pty_;
  std::string received_;
};
