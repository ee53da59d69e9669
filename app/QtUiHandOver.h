// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The serial port's hand-over to the user-interface thread, on Qt's event loop.
#pragma once

#include <QObject>

#include "serial/UiHandOver.h"

class TQtUiHandOver : public TUiHandOver {
 public:
  // Calls are delivered to `context`'s thread, which must be the user-interface thread.
  explicit TQtUiHandOver(QObject* context);

  void Synchronize(const std::function<void()>& call) override;
  bool InUiThread() const override;
  void ProcessPendingEvents() override;

 private:
  QObject* context_;
};
