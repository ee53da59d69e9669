// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The station commands of the command line (--stations, --add-station, ...), for scripts and
// ssh sessions: no display is needed.
#pragma once

#include <chrono>
#include <cstdio>

#include "app/CommandLine.h"

// Runs the command; what it says goes to `out`, problems to `err`. The exit status.
// `lookFor` bounds how long --stations waits for the local network's announcements.
int RunStationCommand(const TCommandLine& line, std::FILE* out, std::FILE* err,
                      std::chrono::milliseconds lookFor = std::chrono::seconds(3));
