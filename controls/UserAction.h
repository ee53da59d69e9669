// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The one place where an exception that escapes an operator's action (a click, a menu command,
// a key, a timer tick) is caught: it is handed to the program's error display instead of
// unwinding through the toolkit's event dispatch.
// It lives with the controls because the lamps' and buttons' own clicks are operator actions
// too, and this is the lowest layer that the controls, the port monitor and the main window share.
#pragma once

#include <exception>
#include <functional>
#include <string>

// Hands the message (Windows-1252 bytes) to the installed reporter.
void ReportUserActionError(const std::string& message);

// The error display. Without one, the message goes to the standard error stream.
void SetUserActionErrorReporter(std::function<void(const std::string& message)> reporter);

// Runs the action; returns false when it threw (the error has then been reported). A template,
// so that guarding every event the application delivers costs no allocation.
template <typename Action>
bool RunUserAction(Action&& action) {
  try {
    action();
    return true;
  } catch (const std::exception& error) {
    ReportUserActionError(error.what());
  } catch (...) {
    ReportUserActionError("Unknown error");
  }
  return false;
}
