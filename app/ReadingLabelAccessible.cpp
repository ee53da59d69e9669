// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The reading label's accessible interface.
#include "app/ReadingLabelAccessible.h"

#include "app/ReadingLabel.h"

TReadingLabelAccessible::TReadingLabelAccessible(TReadingLabel* label)
    : QAccessibleWidget(label, QAccessible::StaticText) {}

QAccessibleInterface* TReadingLabelAccessible::Create(const QString&, QObject* object) {
  auto* label = dynamic_cast<TReadingLabel*>(object);
  return label != nullptr ? new TReadingLabelAccessible(label) : nullptr;
}

QAccessible::State TReadingLabelAccessible::state() const {
  QAccessible::State state = QAccessibleWidget::state();
  state.readOnly = true;
  return state;
}

QString TReadingLabelAccessible::text(QAccessible::Text t) const {
  const auto* label = static_cast<const TReadingLabel*>(widget());
  switch (t) {
    case QAccessible::Name:
      return label->SpokenReading();
    case QAccessible::Value:
      return label->text();
    default:
      return QAccessibleWidget::text(t);
  }
}
