// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The notice line's accessible interface.
#include "app/NoticeLabelAccessible.h"

#include "app/NoticeLabel.h"

TNoticeLabelAccessible::TNoticeLabelAccessible(TNoticeLabel* label)
    : QAccessibleWidget(label, QAccessible::Notification) {}

QAccessibleInterface* TNoticeLabelAccessible::Create(const QString&, QObject* object) {
  auto* label = dynamic_cast<TNoticeLabel*>(object);
  return label != nullptr ? new TNoticeLabelAccessible(label) : nullptr;
}

QAccessible::State TNoticeLabelAccessible::state() const {
  QAccessible::State state = QAccessibleWidget::state();
  state.readOnly = true;
  return state;
}

QString TNoticeLabelAccessible::text(QAccessible::Text t) const {
  if (t == QAccessible::Name) return static_cast<const QLabel*>(widget())->text();
  return QAccessibleWidget::text(t);
}
