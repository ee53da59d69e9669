// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The station module made of this library: what the program's loadable module gives, and what
// the tests, which link the library, hand in.
#pragma once

#include "station/StationModule.h"

TStationModule& LinkedStationModule();
