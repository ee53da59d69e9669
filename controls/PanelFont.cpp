// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The panel's font, and its stand-in where MS Sans Serif is missing (it is not free, and Debian
// has no face with its metrics).
#include "controls/PanelFont.h"

#include <QFontDatabase>
#include <QStringList>

namespace {

// Looked up once: QFontDatabase::hasFamily asks fontconfig to resolve aliases, a millisecond a
// call, and every control of the window asks. An installed face is among the families.
bool HasMsSansSerif() {
  static const bool installed =
      QFontDatabase::families().contains(QStringLiteral("MS Sans Serif"), Qt::CaseInsensitive);
  return installed;
}

}  // namespace

QFont PanelFont(int designPixels, bool bold) {
  QFont font;
  if (HasMsSansSerif()) {
    font.setFamily(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(designPixels);
  } else {
    // Liberation Sans (Arial's metrics, fonts-liberation2) is about 8% wider at 11 pixels, which
    // clips "Connecting..." in its 65-pixel button: one pixel smaller, its advance widths fit
    // every caption of the window; at 16 pixels the labels fit as they are. DejaVu Sans
    // Condensed (fonts-dejavu-extra) fits at the same sizes where Liberation is missing.
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans Condensed")});
    font.setPixelSize(designPixels <= 11 ? designPixels - 1 : designPixels);
  }
  font.setStyleHint(QFont::SansSerif);
  font.setBold(bold);
  return font;
}
