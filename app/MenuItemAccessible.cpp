// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A drop-down menu's item for assistive technologies: role, state, place and action as Qt 6.4's
// own interface gives them, and the status tip as the description.
#include "app/MenuItemAccessible.h"

#include <QAction>
#include <QMenu>
#include <QStyle>
#include <QWindow>

TMenuItemAccessible::TMenuItemAccessible(QMenu* menu, QAction* action)
    : menu_(menu), action_(action) {}

QAccessibleInterface* TMenuItemAccessible::Create(const QString&, QObject* object) {
  auto* action = qobject_cast<QAction*>(object);
  if (action == nullptr || action->menu() != nullptr || action->isSeparator()) return nullptr;
  for (QObject* holder : action->associatedObjects()) {
    if (auto* menu = qobject_cast<QMenu*>(holder)) return new TMenuItemAccessible(menu, action);
  }
  return nullptr;
}

bool TMenuItemAccessible::isValid() const {
  return menu_ && action_;
}

QObject* TMenuItemAccessible::object() const {
  return action_;
}

QWindow* TMenuItemAccessible::window() const {
  if (QWindow* own = menu_->windowHandle()) return own;
  const QWidget* native = menu_->nativeParentWidget();
  return native != nullptr ? native->windowHandle() : nullptr;
}

QAccessibleInterface* TMenuItemAccessible::parent() const {
  return QAccessible::queryAccessibleInterface(menu_);
}

QAccessibleInterface* TMenuItemAccessible::child(int) const {
  return nullptr;
}

int TMenuItemAccessible::childCount() const {
  return 0;
}

int TMenuItemAccessible::indexOfChild(const QAccessibleInterface*) const {
  return -1;
}

QAccessibleInterface* TMenuItemAccessible::childAt(int, int) const {
  return nullptr;
}

QAccessible::Role TMenuItemAccessible::role() const {
  return QAccessible::MenuItem;
}

QAccessible::State TMenuItemAccessible::state() const {
  QAccessible::State state;
  state.invisible = !menu_->isVisible() || !action_->isVisible();
  state.focused = menu_->activeAction() == action_;
  state.hotTracked = menu_->style()->styleHint(QStyle::SH_Menu_MouseTracking) != 0;
  state.disabled = !action_->isEnabled();
  state.checkable = action_->isCheckable();
  state.checked = action_->isChecked();
  return state;
}

QRect TMenuItemAccessible::rect() const {
  return menu_->actionGeometry(action_).translated(menu_->mapToGlobal(QPoint(0, 0)));
}

QString TMenuItemAccessible::text(QAccessible::Text t) const {
  switch (t) {
    case QAccessible::Name: {
      QString name;
      const QString text = action_->text();
      for (qsizetype i = 0; i < text.size(); ++i) {
        // A single & marks the mnemonic; && stands for one &.
        if (text[i] == '&') ++i;
        if (i < text.size()) name += text[i];
      }
      return name;
    }
    case QAccessible::Description:
      return action_->statusTip();
    case QAccessible::Accelerator:
      return action_->shortcut().isEmpty() ? QKeySequence::mnemonic(action_->text()).toString()
                                           : action_->shortcut().toString();
    default:
      return {};
  }
}

void TMenuItemAccessible::setText(QAccessible::Text, const QString&) {}

void* TMenuItemAccessible::interface_cast(QAccessible::InterfaceType type) {
  return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                              : nullptr;
}

QStringList TMenuItemAccessible::actionNames() const {
  return {pressAction()};
}

void TMenuItemAccessible::doAction(const QString& name) {
  if (name == pressAction() && action_->isEnabled()) action_->trigger();
}

QStringList TMenuItemAccessible::keyBindingsForAction(const QString&) const {
  if (action_->shortcut().isEmpty()) return {};
  return {action_->shortcut().toString()};
}
