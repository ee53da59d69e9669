// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The connection's time on Qt: the system clock, the window's reconnection timer, and the event
// loop for what runs once the current event has been handled.
#pragma once

#include <QTimer>

#include "app/ConnectionController.h"

class TQtConnectionClock final : public TConnectionController::TClock {
 public:
  // `timer` is single-shot and stays the caller's; its ticks and the later actions run guarded
  // as an operator's action is, so that an error they raise reaches the error display.
  explicit TQtConnectionClock(QTimer* timer);

  std::chrono::system_clock::time_point Now() const override;
  void Start(std::chrono::milliseconds delay, std::function<void()> tick) override;
  void Stop() override;
  void Later(std::function<void()> action) override;

 private:
  QTimer* timer_;
  std::function<void()> tick_;
};
