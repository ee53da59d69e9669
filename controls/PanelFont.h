// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The font of the front panel's controls: "MS Sans Serif" where the desktop has it, else a
// substitute whose captions fit the same control widths.
#pragma once

#include <QFont>

// `designPixels` is the pixel height the panel was designed with (11 for the window font, 16
// for the value labels).
QFont PanelFont(int designPixels, bool bold = false);
