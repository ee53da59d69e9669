// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// How the tuner writes the values of its status lines.
#pragma once

#include <cstdint>
#include <string>

// SWR in tenths, 10 to 99; 255 stands for a reading out of range (9.95 or more, or none).
int SwrTenths(double swr);
constexpr int kSwrOutOfRange = 255;

// The value of an "SWR: " line: two digits, or "255".
std::string SwrValue(int tenths);

// A relay code as eight binary digits, most significant relay first.
std::string BinaryValue(std::uint8_t code);

// A number with leading zeros to the given width (values wider than that are kept whole).
std::string ZeroPadded(int value, int width);
