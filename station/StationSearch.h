// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The search for stations announced on the local network as the program reaches it: a
// TStationBrowser inside the station module (StationModule.h), behind calls that need nothing of
// the module to be linked.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "station/StationBrowser.h"

class TStationSearch {
 public:
  virtual ~TStationSearch() = default;
  // As TStationBrowser has them.
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual const std::vector<TFoundStation>& Stations() const = 0;
  virtual TStationBrowser::TState State() const = 0;
  virtual const std::string& Reason() const = 0;

  // Runs on the user-interface thread after the list or the state changed.
  std::function<void()> OnChange;
};
