// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Letter case, blanks and control characters of Windows-1252 names and values, without Qt: only
// a to z change case and only bytes up to the space count as blanks, so every other byte of the
// code page stays.
#pragma once

#include <string>
#include <string_view>

// Without the control bytes and spaces at both ends.
std::string_view TrimControls(std::string_view text);
std::string AsciiUpperCase(std::string_view text);
std::string AsciiLowerCase(std::string_view text);
bool SameAsciiNoCase(std::string_view a, std::string_view b);
bool StartsWithAsciiNoCase(std::string_view text, std::string_view prefix);
bool ContainsAsciiNoCase(std::string_view text, std::string_view word);
// The text with every control character written as \xNN, so that it can neither move a
// terminal's cursor, ring, nor break a line or a tab-separated column: the bytes below the
// space, DEL, and the C1 controls as UTF-8 writes them (C2 80 to C2 9F), which terminals obey
// too. Escaping twice changes nothing, so a message may quote text escaped already.
std::string EscapeControls(std::string_view text);
