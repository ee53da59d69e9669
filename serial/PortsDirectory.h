// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Where the user's configuration folder and the port directory (the folder of symbolic links
// that names ports) live.
#pragma once

#include <cstddef>
#include <string>

struct TPortsDirectoryPlace {
  std::string Path;
  // Named by ORVEL_PORTS_DIR rather than the default, which need not exist.
  bool Named = false;
};

// ${XDG_CONFIG_HOME:-$HOME/.config}/orvel, the one place the program and the window look for
// the user's files; empty when neither variable gives an absolute path.
std::string UserConfigDirectory();

// $ORVEL_PORTS_DIR when set and not empty, else ${XDG_CONFIG_HOME:-$HOME/.config}/orvel/ports.
// The path is empty when none of these variables gives a place.
TPortsDirectoryPlace PortsDirectoryPlace();
std::string PortsDirectory();

// How much of an entry the port list and the station commands read: no longer one is written.
inline constexpr std::size_t kPortEntryReadSize = 1024;
