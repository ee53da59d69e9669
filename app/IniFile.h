// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Reads one value of a settings file in the INI format, as the desktop's INI readers do.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// A settings file is never larger than this; a bigger file is not taken for one.
inline constexpr std::size_t kMaxSettingsFileBytes = 1024 * 1024;

// The value of `key` in `[section]` of the file at `path`: section and key names are matched
// without regard to letter case, blanks around the value and one pair of enclosing quotes are
// removed, and the first matching key wins; `fallback` when the section or key is missing.
// No value at all when there is no settings file: nothing at `path`, or something that is not
// a regular file of at most kMaxSettingsFileBytes (a FIFO, a device, a directory). Reading
// never blocks and never takes more memory than that bound.
std::optional<std::string> ReadIniString(const std::string& path, const std::string& section,
                                         const std::string& key, const std::string& fallback);
