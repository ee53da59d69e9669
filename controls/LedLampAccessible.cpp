// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The lamp's accessible interface.
#include "controls/LedLampAccessible.h"

#include <QMetaObject>

#include "controls/LedLamp.h"

// AT-SPI knows no indicator or lamp role (Qt's Indicator arrives there as "unknown", which
// screen readers do not present): a lamp is a picture, as it is on the screen.
TLedLampAccessible::TLedLampAccessible(TLedLamp* lamp)
    : QAccessibleWidget(lamp, QAccessible::Graphic) {}

QAccessibleInterface* TLedLampAccessible::Create(const QString&, QObject* object) {
  auto* lamp = dynamic_cast<TLedLamp*>(object);
  return lamp != nullptr ? new TLedLampAccessible(lamp) : nullptr;
}

TLedLamp* TLedLampAccessible::Lamp() const {
  return static_cast<TLedLamp*>(widget());
}

QAccessible::State TLedLampAccessible::state() const {
  QAccessible::State state = QAccessibleWidget::state();
  state.checkable = true;
  state.checked = Lamp()->Value();
  // A zero interval never ticks: such a lamp is lit, not blinking.
  state.animated = state.checked && Lamp()->Blink() && Lamp()->Interval() > 0;
  return state;
}

QString TLedLampAccessible::text(QAccessible::Text t) const {
  switch (t) {
    case QAccessible::Description:
      return Lamp()->HintText();
    case QAccessible::Value:
      return Lamp()->StateText();
    default:
      return QAccessibleWidget::text(t);
  }
}

QStringList TLedLampAccessible::actionNames() const {
  return Lamp()->OnClick ? QStringList{pressAction()} : QStringList{};
}

// The action answers the caller at once and the click runs from the event loop, as Qt's own
// buttons do: the click may open a window, which must not hold the caller's request.
void TLedLampAccessible::doAction(const QString& actionName) {
  if (actionName != pressAction() || !Lamp()->OnClick) return;
  TLedLamp* lamp = Lamp();
  QMetaObject::invokeMethod(
      lamp, [lamp] { lamp->Click(); }, Qt::QueuedConnection);
}

QStringList TLedLampAccessible::keyBindingsForAction(const QString&) const {
  return {};
}
