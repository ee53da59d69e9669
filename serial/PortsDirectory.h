// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Where the port directory lives: the folder of symbolic links that names ports.
#pragma once

#include <string>

// $ORVEL_PORTS_DIR when set and not empty, else ${XDG_CONFIG_HOME:-$HOME/.config}/orvel/ports.
// Empty when none of these variables gives a place.
std::string PortsDirectory();
