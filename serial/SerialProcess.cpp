// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
#include "serial/SerialProcess.h"

#include <atomic>

#include "serial/NetworkPorts.h"
#include "serial/SerialPlatform.h"
#include "serial/posix/WriteAbort.h"

namespace {

TSerialProcess program;
std::atomic<bool> shared = false;

}  // namespace

TSerialProcess OwnSerialProcess() {
  return {&SerialWritesAborted, &WriteAbortDescriptor, &SetOpenCancelListener};
}

void ShareSerialProcess(const TSerialProcess& given) {
  program = given;
  shared = true;
}

const TSerialProcess* SharedSerialProcess() {
  return shared ? &program : nullptr;
}
