// The one place where an exception that escapes an operator's action (a click, a menu command,
// a key, a timer tick) is caught: it is handed to the program's error display instead of
// unwinding through the toolkit's event dispatch.
#pragma once

#include <functional>
#include <string>

// Runs the action; returns false when it threw (the error has then been reported).
bool RunUserAction(const std::function<void()>& action);

// The error display: receives the exception's message (Windows-1252 bytes). Without one,
// the message goes to the standard error stream.
void SetUserActionErrorReporter(std::function<void(const std::string& message)> reporter);
