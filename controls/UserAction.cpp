// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The error reporter behind RunUserAction.
#include "controls/UserAction.h"

#include <cstdio>

namespace {

std::function<void(const std::string&)>& Reporter() {
  static std::function<void(const std::string&)> reporter;
  return reporter;
}

}  // namespace

void ReportUserActionError(const std::string& message) {
  if (Reporter()) {
    Reporter()(message);
  } else {
    std::fprintf(stderr, "%s\n", message.c_str());
  }
}

void SetUserActionErrorReporter(std::function<void(const std::string& message)> reporter) {
  Reporter() = std::move(reporter);
}
