// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Command texts and log forms.
#include "TunerCommands.h"

namespace TunerCommands {

std::string SwrMin(int tenths) {
  return "SWRmin " + std::to_string(tenths);
}

std::string WireForm(std::string_view command) {
  std::string text(command);
  text += "\r\n";
  return text;
}

std::string SentLogLine(std::string_view command) {
  std::string line = "- ";
  line += command;
  return line;
}

std::string ReceivedLogLine(std::string_view line) {
  std::string logged = "+ ";
  logged += line;
  return logged;
}

}  // namespace TunerCommands
