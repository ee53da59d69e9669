// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The reading label and the text it is spoken as.
#include "app/ReadingLabel.h"

#include <QAccessible>

#include "app/ReadingLabelAccessible.h"

TReadingLabel::TReadingLabel(const QString& quantity, const QString& caption, QWidget* parent)
    : QLabel(parent), quantity_(quantity) {
  static const bool accessible = [] {
    QAccessible::installFactory(&TReadingLabelAccessible::Create);
    return true;
  }();
  (void)accessible;
  // Not through QLabel's constructor: its setText already asks Qt for the label's accessible
  // interface, while this object is still a plain QLabel, and Qt keeps the answer.
  setText(caption);
}

QString TReadingLabel::SpokenReading() const {
  const QString shown = text();
  if (shown.isEmpty()) return quantity_ + QStringLiteral(" no reading");
  // The tuner's "255", shown as "???", means it could not measure.
  if (shown == QStringLiteral("???")) return quantity_ + QStringLiteral(" unknown");
  return quantity_ + u' ' + shown;
}
