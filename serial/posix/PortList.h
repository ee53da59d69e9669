// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The ports present on Linux: the port directory's links first, then the serial devices
// detected in /dev under the COM numbers that Windows tools give them.
#pragma once

#include <string>
#include <vector>

#include "SerialPlatform.h"

// portsDirectory may be empty (no directory). The names are upper-case, trimmed, non-empty
// and unique; the directory's come in name order.
std::vector<TListedPort> ListPresentPorts(const std::string& portsDirectory);
