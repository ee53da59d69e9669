// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TReadingLabel: a label that shows one of the tuner's readings (SWR, L, C, forward power).
// Assistive technologies read it with its quantity ("SWR 1.5"), not as a bare number.
#pragma once

#include <QLabel>

class TReadingLabel : public QLabel {
 public:
  TReadingLabel(const QString& quantity, const QString& caption, QWidget* parent = nullptr);

  QString Quantity() const { return quantity_; }
  // "SWR 1.5", "L 0.64 µH"; "SWR unknown" while the tuner reports "???", "SWR no reading"
  // while the label is empty.
  QString SpokenReading() const;

 private:
  QString quantity_;
};
