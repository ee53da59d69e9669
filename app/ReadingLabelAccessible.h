// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TReadingLabelAccessible: a reading label as assistive technologies see it: static text
// named by its quantity and reading ("SWR 1.5").
#pragma once

#include <QAccessibleWidget>

class TReadingLabel;

class TReadingLabelAccessible : public QAccessibleWidget {
 public:
  explicit TReadingLabelAccessible(TReadingLabel* label);

  // The factory that Qt asks for every object: an interface for reading labels only.
  static QAccessibleInterface* Create(const QString& key, QObject* object);

  QAccessible::State state() const override;
  QString text(QAccessible::Text t) const override;
};
