// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Desktop notifications through the freedesktop notification service on the session bus: news
// that the operator should see without a box that stops them.
#pragma once

#include <QString>

class TDesktopNotifier {
 public:
  // Sends the notification without waiting for the service, which the bus starts on demand
  // where it can; false when there is no session bus. A bus without the service answers with an
  // error that nobody waits for.
  static bool Notify(const QString& summary, const QString& body);
};
