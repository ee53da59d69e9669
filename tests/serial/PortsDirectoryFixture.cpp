// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Temporary port directories for the serial tests.
#include "tests/serial/PortsDirectoryFixture.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

TPortsDirectoryFixture::TPortsDirectoryFixture() {
  std::string pattern = "/tmp/orvel-ports-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  ::setenv("ORVEL_PORTS_DIR", path_.c_str(), 1);
}

TPortsDirectoryFixture::~TPortsDirectoryFixture() {
  ::unsetenv("ORVEL_PORTS_DIR");
  if (DIR* directory = ::opendir(path_.c_str())) {
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(directory)) names.push_back(entry->d_name);
    ::closedir(directory);
    for (const std::string& name : names) {
      // A folder that a test made is empty.
      if (name != "." && name != ".." && ::unlink((path_ + "/" + name).c_str()) != 0) {
        ::rmdir((path_ + "/" + name).c_str());
      }
    }
  }
  ::rmdir(path_.c_str());
}

void TPortsDirectoryFixture::Link(const std::string& name, const std::string& target) const {
  if (::symlink(target.c_str(), (path_ + "/" + name).c_str()) != 0) {
    throw std::runtime_error("symlink failed for " + name);
  }
}

void TPortsDirectoryFixture::Remove(const std::string& name) const {
  ::unlink((path_ + "/" + name).c_str());
}
