// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TColor: red in the lowest byte, and system colours resolved from the current palette.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>

#include "controls/Color.h"

namespace {

TEST(Color, NamedColoursConvertWithRedInTheLowestByte) {
  struct ColorCase {
    TColor color;
    QColor expected;
  };
  const ColorCase cases[] = {
      {clBlack, QColor(0, 0, 0)},           {clRed, QColor(0xFF, 0, 0)},
      {clLime, QColor(0, 0xFF, 0)},         {clYellow, QColor(0xFF, 0xFF, 0)},
      {clSilver, QColor(0xC0, 0xC0, 0xC0)}, {clGray, QColor(0x80, 0x80, 0x80)},
      {clWhite, QColor(0xFF, 0xFF, 0xFF)},  {clPurple, QColor(0x80, 0, 0x80)},
      {clNavy, QColor(0, 0, 0x80)},         {0x00563412, QColor(0x12, 0x34, 0x56)},
  };
  for (const ColorCase& c : cases) {
    EXPECT_EQ(ColorToQColor(c.color), c.expected) << std::hex << c.color;
  }
  EXPECT_EQ(clNavy, 0x00800000u);
  EXPECT_EQ(clBtnFace, 0x8000000Fu);
}

TEST(Color, SystemColoursFollowThePaletteAtTheTimeOfTheCall) {
  const QPalette saved = QApplication::palette();
  for (const QColor face : {QColor(0x11, 0x22, 0x33), QColor(0xDD, 0xEE, 0xFF)}) {
    QPalette palette = saved;
    palette.setColor(QPalette::Button, face);
    QApplication::setPalette(palette);
    EXPECT_EQ(ColorToQColor(clBtnFace), face);
    // An index past the known system colours still gives the button face, never black.
    EXPECT_EQ(ColorToQColor(0x800000FF), face);
  }
  QApplication::setPalette(saved);
  EXPECT_TRUE(IsSystemColor(clBtnFace));
  EXPECT_FALSE(IsSystemColor(clWhite));
}

}  // namespace
