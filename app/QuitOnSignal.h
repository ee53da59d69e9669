// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Ends the program through the event loop on SIGINT, SIGTERM and SIGHUP (Ctrl+C in a terminal,
// the end of the desktop session), so that the port is closed as at File > Exit.
#pragma once

#include <QObject>

class QSocketNotifier;

class TQuitOnSignal : public QObject {
 public:
  explicit TQuitOnSignal(QObject* parent = nullptr);
  ~TQuitOnSignal() override;

 private:
  QSocketNotifier* notifier_ = nullptr;
};
