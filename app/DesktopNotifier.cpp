// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// org.freedesktop.Notifications over Qt DBus.
#include "app/DesktopNotifier.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";

}  // namespace

bool TDesktopNotifier::Notify(const QString& summary, const QString& body) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, "/org/freedesktop/Notifications",
                                                     kService, "Notify");
  // Application, id to replace (none), icon, summary, body, actions, hints, time-out (the
  // server's own).
  call << QApplication::applicationName() << 0u << QString("network-error") << summary << body
       << QStringList() << QVariantMap() << -1;
  // The window never waits on the desktop: the reply is not awaited.
  return bus.send(call);
}
