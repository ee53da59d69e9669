// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The one place that turns an errno from a serial device into the reason the operator reads.
#pragma once

#include <string>

// strerror's text, with the device's group for a refused permission and the program that
// holds the device for a busy one; trailing blanks, control characters and full stops removed.
std::string SystemMessage(int error, const std::string& devicePath);
