// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The colour button's accessible interface.
#include "controls/ColorButtonAccessible.h"

#include <QMetaObject>

#include "controls/ColorButton.h"

namespace {

// The caption as it is spoken: an ampersand marks the accelerator and is not drawn; two draw one.
QString WithoutAccelerator(const QString& caption) {
  QString spoken;
  spoken.reserve(caption.size());
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == u'&' && ++i == caption.size()) break;
    spoken += caption[i];
  }
  return spoken;
}

}  // namespace

TColorButtonAccessible::TColorButtonAccessible(TColorButton* button)
    : QAccessibleWidget(button, QAccessible::Button) {}

QAccessibleInterface* TColorButtonAccessible::Create(const QString&, QObject* object) {
  auto* button = dynamic_cast<TColorButton*>(object);
  return button != nullptr ? new TColorButtonAccessible(button) : nullptr;
}

TColorButton* TColorButtonAccessible::Button() const {
  return static_cast<TColorButton*>(widget());
}

// A latching button is also checkable, checked while down: Qt's AT-SPI bridge passes on
// changes of the checked state but not of the pressed state.
QAccessible::State TColorButtonAccessible::state() const {
  QAccessible::State state = QAccessibleWidget::state();
  state.pressed = Button()->Down();
  state.checkable = Button()->Latching();
  state.checked = Button()->Latching() && Button()->Down();
  return state;
}

QString TColorButtonAccessible::text(QAccessible::Text t) const {
  if (t == QAccessible::Name && Button()->accessibleName().isEmpty()) {
    return WithoutAccelerator(Button()->Caption());
  }
  return QAccessibleWidget::text(t);
}

QStringList TColorButtonAccessible::actionNames() const {
  return Button()->isEnabled() ? QStringList{pressAction()} : QStringList{};
}

// The action answers the caller at once and the click runs from the event loop, as Qt's own
// buttons do: the click may show an error box, which must not hold the caller's request.
void TColorButtonAccessible::doAction(const QString& actionName) {
  if (actionName != pressAction()) return;
  TColorButton* button = Button();
  QMetaObject::invokeMethod(
      button, [button] { button->Click(); }, Qt::QueuedConnection);
}

QStringList TColorButtonAccessible::keyBindingsForAction(const QString&) const {
  return {};
}
