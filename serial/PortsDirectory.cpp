// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The port directory's location, shared by the serial component and the tuner simulator.
#include "PortsDirectory.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "PrivateFile.h"

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

bool WriteNetworkPortEntry(const std::string& name, const std::string& address,
                           std::string& reason) {
  const TPortsDirectoryPlace place = PortsDirectoryPlace();
  if (place.Path.empty()) {
    reason = "Neither ORVEL_PORTS_DIR, XDG_CONFIG_HOME nor HOME names the port directory";
    return false;
  }
  // The default folder is made on first need; one that the operator named must be there.
  if (!place.Named && !MakePrivateFolder(place.Path.substr(0, place.Path.rfind('/')), reason))
    return false;
  if (!place.Named && ::mkdir(place.Path.c_str(), 0700) != 0 && errno != EEXIST) {
    reason = "Cannot make " + place.Path + ": " + std::strerror(errno);
    return false;
  }
  return WritePrivateFile(place.Path + "/" + name, address + "\n", 0644, reason);
}
