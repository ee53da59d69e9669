// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Command texts and log forms.
#include "protocol/TunerCommands.h"

namespace TunerCommands {

std::string SwrMin(int tenths) {
  return "SWRmin " + std::to_string(tenths);
}

std::string WireForm(std::string_view command) {
  std::string text(command);
  text += "\r\n";
  return text;
}

std::string LogForm(TLogDirection direction, std::string_view text) {
  std::string line = direction == ldSent ? "- " : "+ ";
  line += text;
  return line;
}

}  // namespace TunerCommands
