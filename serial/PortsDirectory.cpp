// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The port directory's location, shared by the serial component, the stations' entries and the
// tuner simulator.
#include "serial/PortsDirectory.h"

#include <cstdlib>

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

}  // namespace

std::string UserConfigDirectory() {
  // The desktop's rule: a relative XDG_CONFIG_HOME is ignored, as the window's toolkit does.
  std::string config = Environment("XDG_CONFIG_HOME");
  if (!config.starts_with('/')) {
    const std::string home = Environment("HOME");
    if (!home.starts_with('/')) return {};
    config = home + "/.config";
  }
  return config + "/orvel";
}

TPortsDirectoryPlace PortsDirectoryPlace() {
  if (std::string dir = Environment("ORVEL_PORTS_DIR"); !dir.empty()) return {dir, true};
  const std::string config = UserConfigDirectory();
  if (config.empty()) return {};
  return {config + "/ports", false};
}

std::string PortsDirectory() {
  return PortsDirectoryPlace().Path;
}
