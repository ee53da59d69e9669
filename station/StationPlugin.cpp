// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The entry of the loadable station module, the one symbol it exports (StationModule.map).
#include <type_traits>

#include "serial/SerialProcess.h"
#include "station/LinkedStationModule.h"

extern "C" TStationModule* OrvelStationModule(const TSerialProcess& program) {
  ShareSerialProcess(program);
  return &LinkedStationModule();
}

static_assert(std::is_same_v<decltype(OrvelStationModule), TStationModuleEntry>);
