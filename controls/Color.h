// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Colours of the indicator controls: the 32-bit TColor value (RGB with red in the lowest
// byte, or a system colour reference) and its conversion to a QColor when drawing.
#pragma once

#include <QColor>
#include <cstdint>

using TColor = std::uint32_t;

constexpr TColor ColorFromRgb(int red, int green, int blue) {
  return static_cast<TColor>(red & 0xFF) | (static_cast<TColor>(green & 0xFF) << 8) |
         (static_cast<TColor>(blue & 0xFF) << 16);
}

constexpr TColor clBlack = ColorFromRgb(0x00, 0x00, 0x00);
constexpr TColor clRed = ColorFromRgb(0xFF, 0x00, 0x00);
constexpr TColor clLime = ColorFromRgb(0x00, 0xFF, 0x00);
constexpr TColor clYellow = ColorFromRgb(0xFF, 0xFF, 0x00);
constexpr TColor clSilver = ColorFromRgb(0xC0, 0xC0, 0xC0);
constexpr TColor clGray = ColorFromRgb(0x80, 0x80, 0x80);
constexpr TColor clWhite = ColorFromRgb(0xFF, 0xFF, 0xFF);
constexpr TColor clPurple = ColorFromRgb(0x80, 0x00, 0x80);
constexpr TColor clNavy = ColorFromRgb(0x00, 0x00, 0x80);

// A system colour reference: top byte 80 hex, lowest byte the system colour's index.
constexpr TColor clBtnFace = 0x8000000F;

constexpr bool IsSystemColor(TColor color) {
  return (color & 0xFF000000u) == 0x80000000u;
}

// RGB colours map directly; system colours take the current application palette's value
// at the time of the call (button face is QPalette::Button). Any other top byte is read
// as plain RGB with the top byte ignored.
QColor ColorToQColor(TColor color);
