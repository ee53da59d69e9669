// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TNoticeLabelAccessible: a notice line as assistive technologies see it: a notification
// named by its text, which screen readers speak as it is shown.
#pragma once

#include <QAccessibleWidget>

class TNoticeLabel;

class TNoticeLabelAccessible : public QAccessibleWidget {
 public:
  explicit TNoticeLabelAccessible(TNoticeLabel* label);

  // The factory that Qt asks for every object: an interface for notice lines only.
  static QAccessibleInterface* Create(const QString& key, QObject* object);

  QAccessible::State state() const override;
  QString text(QAccessible::Text t) const override;
};
