// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The ports present on Linux: the port directory's links first, then the serial devices
// detected in /dev under the COM numbers that Windows tools give them.
#pragma once

#include <string>
#include <vector>

#include "SerialPlatform.h"

// portsDirectory may be empty (no directory); `named` when the operator named it, which makes
// a missing directory worth a note on standard error. The names are upper-case, trimmed,
// printable ASCII and unique; the directory's come in name order. Entries that cannot be
// listed are told once on standard error. An entry that is neither a link nor an address (a
// FIFO, a note) is listed with its own path as its device, so that opening it says why not.
std::vector<TListedPort> ListPresentPorts(const std::string& portsDirectory, bool named);

// Whether a port that ListPresentPorts gave is still listed under its name, from its own
// entry alone: false when the entry is gone or changed, which the full list then decides.
bool IsStillListed(const TListedPort& port, const std::string& portsDirectory);

// Whether IsStillListed can change its answer only through a change of directory entries (which
// can be watched); a detected UART's answer also rests on sysfs, which tells nobody.
bool PresenceRestsOnEntries(const TListedPort& port);
