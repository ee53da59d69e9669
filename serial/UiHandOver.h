// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The hand-over of serial port events to the user-interface thread, injected by the program
// (a Qt implementation in the main window, a fake in the tests).
#pragma once

#include <functional>

class TUiHandOver {
 public:
  virtual ~TUiHandOver() = default;
  // Runs `call` on the user-interface thread and waits until it has returned; an exception
  // thrown by `call` is rethrown in the caller. Runs `call` at once when already on that thread.
  virtual void Synchronize(const std::function<void()>& call) = 0;
  virtual bool InUiThread() const = 0;
  // Lets pending user-interface events run once (Close calls it while it waits).
  virtual void ProcessPendingEvents() = 0;
};
