// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// What the serial component keeps once for the whole process: the stop of all writes and the
// listener of cancelled opens. A loaded module that carries its own copy of the component (the
// station module) is pointed at the program's, or the program's stop would not reach the module's
// writes, nor a cancelled open its waits.
#pragma once

struct TSerialProcess {
  bool (*WritesAborted)() noexcept = nullptr;
  int (*WriteAbortDescriptor)() = nullptr;
  void (*SetOpenCancelListener)(void (*listener)()) = nullptr;
};

// This copy's own.
TSerialProcess OwnSerialProcess();
// From now on this copy answers with `program`'s; given once, before any port is used.
void ShareSerialProcess(const TSerialProcess& program);
// The one given to ShareSerialProcess, or null.
const TSerialProcess* SharedSerialProcess();
