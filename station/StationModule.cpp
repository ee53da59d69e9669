// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The station module's loader: dlopen once, on the first station, and never unloaded (its
// threads and gensio's state live as long as the process).
#include "station/StationModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>

#include "serial/SerialProcess.h"

namespace {

std::mutex moduleMutex;
TStationModule* handedIn = nullptr;
TStationModule* loaded = nullptr;

std::string ProgramFolder() {
  char path[4096];
  const ssize_t size = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (size <= 0) return ".";
  const std::string program(path, static_cast<std::size_t>(size));
  return program.substr(0, program.rfind('/'));
}

// The build tree has the module beside the program; the package installs it in a folder of its
// own under the library folder.
std::string ModulePath() {
  const std::string folder = ProgramFolder();
  const std::string beside = folder + "/" ORVEL_STATION_MODULE_NAME;
  if (::access(beside.c_str(), F_OK) == 0) return beside;
  return folder + "/" ORVEL_STATION_MODULE_FROM_PROGRAM "/" ORVEL_STATION_MODULE_NAME;
}

}  // namespace

TStationModule* StationModule(std::string& reason) {
  std::lock_guard lock(moduleMutex);
  if (handedIn) return handedIn;
  if (loaded) return loaded;
  const std::string path = ModulePath();
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  void* entry = library ? ::dlsym(library, kStationModuleEntry) : nullptr;
  if (!entry) {
    const char* failure = ::dlerror();
    reason = "Stations need " + path +
             ", which cannot be loaded: " + (failure ? failure : "it has no station module in it");
    return nullptr;
  }
  loaded = reinterpret_cast<TStationModuleEntry*>(entry)(OwnSerialProcess());
  return loaded;
}

void UseStationModule(TStationModule* module) {
  std::lock_guard lock(moduleMutex);
  handedIn = module;
}
