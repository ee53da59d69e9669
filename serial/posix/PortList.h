// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The ports present on Linux: the port directory's links first, then the serial devices
// detected in /dev under the COM numbers that Windows tools give them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "serial/SerialPlatform.h"

// portsDirectory may be empty (no directory); `named` when the operator named it, which makes
// a missing directory worth a note on standard error. The names are upper-case, trimmed,
// printable ASCII and unique; the directory's come in name order. The directory's ports are
// links to devices, device nodes (their own device) and regular files whose first line is a
// network address. Every other entry (a note, a FIFO, an empty or binary file, a folder) is
// skipped, and why is told once a run on standard error, as for entries that cannot be listed.
std::vector<TListedPort> ListPresentPorts(const std::string& portsDirectory, bool named);

// The device that the port list names `name` whenever the device is present ("COM1":
// /dev/ttyS0); empty for a name that no device is given.
std::string DeviceNamed(std::string_view name);

// Whether a port that ListPresentPorts gave is still listed under its name for the same device,
// from its own entry alone: false when the entry is gone or changed, which the full list then
// decides.
bool IsStillListed(const TListedPort& port, const std::string& portsDirectory);

// Whether IsStillListed can change its answer only through a change of directory entries (which
// can be watched); a detected UART's answer also rests on sysfs, which tells nobody.
bool PresenceRestsOnEntries(const TListedPort& port);
