// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TNoticeLabel: a line that tells how something going on turned out ("No station announces
// itself on this network.", "Cannot connect to ..."). A screen reader speaks each new text.
#pragma once

#include <QLabel>

class TNoticeLabel : public QLabel {
 public:
  explicit TNoticeLabel(QWidget* parent = nullptr);

  // Shows `text`, or hides the line when it is empty.
  void SetNotice(const QString& text);
};
