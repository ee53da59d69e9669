// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TMenuItemAccessible: an item of a drop-down menu as assistive technologies see it, as Qt's own
// shows it and with the item's status tip as its description: Qt 6.4's says nothing there, and
// a disabled item could not say why.
#pragma once

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QPointer>

class QAction;
class QMenu;

class TMenuItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
 public:
  TMenuItemAccessible(QMenu* menu, QAction* action);

  // The factory that Qt asks for every object: an interface for the items of a drop-down menu
  // that open no menu of their own.
  static QAccessibleInterface* Create(const QString& key, QObject* object);

  bool isValid() const override;
  QObject* object() const override;
  QWindow* window() const override;
  QAccessibleInterface* parent() const override;
  QAccessibleInterface* child(int index) const override;
  int childCount() const override;
  int indexOfChild(const QAccessibleInterface* child) const override;
  QAccessibleInterface* childAt(int x, int y) const override;
  QAccessible::Role role() const override;
  QAccessible::State state() const override;
  QRect rect() const override;
  QString text(QAccessible::Text t) const override;
  void setText(QAccessible::Text t, const QString& text) override;
  void* interface_cast(QAccessible::InterfaceType type) override;

  QStringList actionNames() const override;
  void doAction(const QString& name) override;
  QStringList keyBindingsForAction(const QString& name) const override;

 private:
  QPointer<QMenu> menu_;
  QPointer<QAction> action_;
};
