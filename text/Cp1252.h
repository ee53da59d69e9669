// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The widget boundary of the program's text: bytes in Windows-1252 to QString and back.
#pragma once

#include <QString>
#include <string>
#include <string_view>

// Every byte maps to one character; the five bytes that Windows-1252 leaves undefined
// (81, 8D, 8F, 90, 9D hex) map to the C1 control of the same code, so that all 256 byte
// values survive the round trip FromCp1252 -> ToCp1252.
QString FromCp1252(std::string_view bytes);

// Characters outside Windows-1252 become '?'.
std::string ToCp1252(const QString& text);
