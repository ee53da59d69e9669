// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The connection's time on Qt.
#include "app/QtConnectionClock.h"

#include <utility>

#include "controls/UserAction.h"

TQtConnectionClock::TQtConnectionClock(QTimer* timer) : timer_(timer) {
  QObject::connect(timer_, &QTimer::timeout, timer_, [this] {
    if (tick_) RunUserAction(tick_);
  });
}

std::chrono::system_clock::time_point TQtConnectionClock::Now() const {
  return std::chrono::system_clock::now();
}

void TQtConnectionClock::Start(std::chrono::milliseconds delay, std::function<void()> tick) {
  tick_ = std::move(tick);
  timer_->start(delay);
}

void TQtConnectionClock::Stop() {
  timer_->stop();
}

void TQtConnectionClock::Later(std::function<void()> action) {
  QTimer::singleShot(0, timer_, [action = std::move(action)] { RunUserAction(action); });
}
