// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The notice line and how its changes reach a screen reader.
#include "app/NoticeLabel.h"

#include <QAccessible>

#include "app/NoticeLabelAccessible.h"

TNoticeLabel::TNoticeLabel(QWidget* parent) : QLabel(parent) {
  static const bool accessible = [] {
    QAccessible::installFactory(&TNoticeLabelAccessible::Create);
    return true;
  }();
  (void)accessible;
  setTextFormat(Qt::PlainText);
  setWordWrap(true);
  hide();
}

void TNoticeLabel::SetNotice(const QString& text) {
  if (text == this->text() && isVisible() != text.isEmpty()) return;
  const bool shown = isVisible();
  setText(text);
  setVisible(!text.isEmpty());
  // Orca speaks a notification when it becomes showing and ignores a label's name change
  // (Qt 6.4 has no announcement event): a new text on a line already shown is shown anew.
  if (shown && isVisible()) {
    QAccessibleEvent event(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&event);
  }
}
