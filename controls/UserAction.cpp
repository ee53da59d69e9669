// Central guard for operator actions.
#include "UserAction.h"

#include <cstdio>
#include <exception>

namespace {

std::function<void(const std::string&)>& Reporter() {
  static std::function<void(const std::string&)> reporter;
  return reporter;
}

void Report(const std::string& message) {
  if (Reporter()) {
    Reporter()(message);
  } else {
    std::fprintf(stderr, "%s\n", message.c_str());
  }
}

}  // namespace

bool RunUserAction(const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (const std::exception& error) {
    Report(error.what());
  } catch (...) {
    Report("Unknown error");
  }
  return false;
}

void SetUserActionErrorReporter(std::function<void(const std::string& message)> reporter) {
  Reporter() = std::move(reporter);
}
