// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Port identifiers and name conversions.
#include "serial/CommPort.h"

#include "text/AsciiText.h"

TCommPort CommPortFromName(std::string_view name) {
  const std::string upper = AsciiUpperCase(TrimControls(name));
  if (upper.empty()) return spNone;
  std::string_view rest(upper);
  if (!rest.starts_with("COM")) return spCustom;
  rest.remove_prefix(3);
  if (rest.empty() || rest.size() > 3 || rest.front() == '0') return spCustom;
  int number = 0;
  for (char c : rest) {
    if (c < '0' || c > '9') return spCustom;
    number = number * 10 + (c - '0');
  }
  if (number > 254) return spCustom;
  return static_cast<TCommPort>(number);
}

std::string CommPortToName(TCommPort port, std::string_view customPortName) {
  if (port == spNone) return {};
  if (port == spCustom) {
    std::string custom(TrimControls(customPortName));
    return custom.empty() ? std::string(DefaultCustomPortName) : custom;
  }
  return "COM" + std::to_string(static_cast<int>(port));
}
