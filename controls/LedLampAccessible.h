// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TLedLampAccessible: what assistive technologies see of a lamp: a graphic with the name the
// window gives it, lit and blinking in its state set, its meaning and state as description.
#pragma once

#include <QAccessibleWidget>

class TLedLamp;

class TLedLampAccessible : public QAccessibleWidget {
 public:
  explicit TLedLampAccessible(TLedLamp* lamp);

  // The factory that Qt asks for every object: an interface for lamps, none for the rest.
  static QAccessibleInterface* Create(const QString& key, QObject* object);

  QAccessible::State state() const override;
  QString text(QAccessible::Text t) const override;
  // A lamp that reacts to a click offers it as the press action.
  QStringList actionNames() const override;
  void doAction(const QString& actionName) override;
  QStringList keyBindingsForAction(const QString& actionName) const override;

 private:
  TLedLamp* Lamp() const;
};
