// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Reads one value of a settings file in the INI format, as the desktop's INI readers do.
#pragma once

#include <string>

// The value of `key` in `[section]` of the file at `path`: section and key names are matched
// without regard to letter case, blanks around the value and one pair of enclosing quotes are
// removed, and the first matching key wins. `fallback` when the file, section or key is missing.
std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& fallback);
