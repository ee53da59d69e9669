// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The program's command line, read before the window system is touched, so that --help and
// --version work over ssh and in scripts, where there is no display.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct TCommandLine {
  bool Help = false;
  bool Version = false;
  bool Connect = false;
  std::optional<std::string> Port;
  // Print the operator's certificate and end; the common name for a new one (empty: the user's).
  std::optional<std::string> OperatorCertificate;
  // Trust this station's certificate and end: the station as HOST:PORT and the certificate's
  // SHA-256 fingerprint, both in their normal form.
  std::optional<std::pair<std::string, std::string>> TrustStation;
  // The station commands, which need no display: list (known and found on the network), add
  // NAME ADDRESS, rename NAME NEWNAME, remove NAME, forget NAME's certificate.
  enum class TStationCommand { None, List, Add, Rename, Remove, Forget };
  TStationCommand StationCommand = TStationCommand::None;
  std::vector<std::string> StationArguments;
  // Qt's own options (-platform xcb, -style ...), handed on to the application object.
  std::vector<std::string> ToolkitArguments;
  // Empty when the command line is valid; else one line saying what is wrong.
  std::string Error;
};

// `arguments` without the program name.
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// What --help prints.
std::string UsageText();
