// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Linked into the test programs that open stations: their serial ports reach network addresses
// as the program's do, from before main, and the station module is the one they link.
#include <memory>

#include "serial/NetworkPorts.h"
#include "station/LinkedStationModule.h"
#include "station/StationPorts.h"

namespace {

[[maybe_unused]] const bool stationsHandedIn = (UseNetworkPorts(std::make_shared<TStationPorts>()),
                                                UseStationModule(&LinkedStationModule()), true);

}  // namespace
