// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TColor to QColor: RGB values directly, system colours from the application palette.
#include "controls/Color.h"

#include <QApplication>
#include <QPalette>
#include <array>

namespace {

struct SystemColor {
  QPalette::ColorGroup group;
  QPalette::ColorRole role;
};

// The nearest palette entry for each system colour index, in index order.
constexpr std::array<SystemColor, 31> kSystemColors = {{
    {QPalette::Active, QPalette::Button},             // scroll bar
    {QPalette::Active, QPalette::Window},             // desktop
    {QPalette::Active, QPalette::Highlight},          // active caption
    {QPalette::Inactive, QPalette::Highlight},        // inactive caption
    {QPalette::Active, QPalette::Window},             // menu
    {QPalette::Active, QPalette::Base},               // window
    {QPalette::Active, QPalette::Shadow},             // window frame
    {QPalette::Active, QPalette::WindowText},         // menu text
    {QPalette::Active, QPalette::Text},               // window text
    {QPalette::Active, QPalette::HighlightedText},    // caption text
    {QPalette::Active, QPalette::Window},             // active border
    {QPalette::Inactive, QPalette::Window},           // inactive border
    {QPalette::Active, QPalette::Mid},                // application workspace
    {QPalette::Active, QPalette::Highlight},          // highlight
    {QPalette::Active, QPalette::HighlightedText},    // highlight text
    {QPalette::Active, QPalette::Button},             // button face
    {QPalette::Active, QPalette::Dark},               // button shadow
    {QPalette::Disabled, QPalette::Text},             // grey text
    {QPalette::Active, QPalette::ButtonText},         // button text
    {QPalette::Inactive, QPalette::HighlightedText},  // inactive caption text
    {QPalette::Active, QPalette::Light},              // button highlight
    {QPalette::Active, QPalette::Shadow},             // 3-D dark shadow
    {QPalette::Active, QPalette::Midlight},           // 3-D light
    {QPalette::Active, QPalette::ToolTipText},        // info text
    {QPalette::Active, QPalette::ToolTipBase},        // info background
    {QPalette::Active, QPalette::Button},             // unused index
    {QPalette::Active, QPalette::Link},               // hot light
    {QPalette::Active, QPalette::Highlight},          // gradient active caption
    {QPalette::Inactive, QPalette::Highlight},        // gradient inactive caption
    {QPalette::Active, QPalette::Highlight},          // menu highlight
    {QPalette::Active, QPalette::Window},             // menu bar
}};

}  // namespace

QColor ColorToQColor(TColor color) {
  if (IsSystemColor(color)) {
    const std::size_t index = color & 0xFF;
    // Unknown indexes fall back to the button face rather than to black.
    const SystemColor entry =
        index < kSystemColors.size() ? kSystemColors[index] : kSystemColors[15];
    return QApplication::palette().color(entry.group, entry.role);
  }
  return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                static_cast<int>((color >> 16) & 0xFF));
}
