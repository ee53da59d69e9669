// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The receiving side of the tuner line protocol: cuts received chunks into lines, logs each
// line, answers the identification and applies status lines to the display.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/TunerHost.h"

class TTunerProtocol {
 public:
  // A line longer than this without a carriage return is handled in pieces of this size, so
  // that a stream without terminators cannot grow memory.
  static constexpr std::size_t MaxLineLength = 4096;

  // decimalSeparator is the user's locale separator used for the L and C values.
  explicit TTunerProtocol(TTunerHost& host, char decimalSeparator = UserDecimalSeparator());

  // Handles one received chunk. Never throws for anything the tuner sends; an exception from
  // the host's own operations (logging, the user-interface events) passes through.
  void Receive(std::string_view chunk);

  // Forgets an unterminated line kept from the previous chunk: called when a port is opened.
  void ResetFraming();

  // Writes a command (without terminator) and logs it; nothing is logged when the write throws.
  void Send(std::string_view command);

  // Set by the identification line; stays set for the rest of the run.
  bool AtuConnected() const { return atuConnected_; }

  // The decimal separator of the user's locale (from the environment), '.' when unknown.
  static char UserDecimalSeparator();

  // Texts of the status values, exposed for the tests of every code.
  static std::string SwrText(std::string_view value);
  // Empty when a character of the code is not a digit.
  static std::string InductanceText(std::string_view value, char decimalSeparator);
  static std::string CapacitanceText(std::string_view value, char decimalSeparator);

 private:
  void HandleLine(const std::string& line);
  void Identify();
  void ApplyStatusLine(std::string_view line);

  TTunerHost& host_;
  char decimalSeparator_;
  bool atuConnected_ = false;
  // The unterminated rest of the previous chunk, joined to the front of the next one.
  std::string pending_;
  // The previous chunk ended with a carriage return: a line feed at the front of the next
  // chunk belongs to that terminator.
  bool skipLineFeed_ = false;
  // Counts ResetFraming calls, so that a chunk half handled when a port is re-opened does
  // not leave its rest behind for the new port.
  std::uint64_t framingGeneration_ = 0;
};
