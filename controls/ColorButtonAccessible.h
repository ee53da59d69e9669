// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TColorButtonAccessible: what assistive technologies see of a colour button: a push button
// named by its caption, pressed (and checked) while its latch is down, with a click's press action.
#pragma once

#include <QAccessibleWidget>

class TColorButton;

class TColorButtonAccessible : public QAccessibleWidget {
 public:
  explicit TColorButtonAccessible(TColorButton* button);

  // The factory that Qt asks for every object: an interface for colour buttons, none for the rest.
  static QAccessibleInterface* Create(const QString& key, QObject* object);

  QAccessible::State state() const override;
  QString text(QAccessible::Text t) const override;
  QStringList actionNames() const override;
  void doAction(const QString& actionName) override;
  QStringList keyBindingsForAction(const QString& actionName) const override;

 private:
  TColorButton* Button() const;
};
