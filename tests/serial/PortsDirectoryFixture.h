// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A temporary port directory, named by ORVEL_PORTS_DIR while it exists.
#pragma once

#include <string>

class TPortsDirectoryFixture {
 public:
  TPortsDirectoryFixture();
  ~TPortsDirectoryFixture();
  TPortsDirectoryFixture(const TPortsDirectoryFixture&) = delete;
  TPortsDirectoryFixture& operator=(const TPortsDirectoryFixture&) = delete;

  const std::string& Path() const { return path_; }
  // A link named `name` to `target` (which need not exist).
  void Link(const std::string& name, const std::string& target) const;
  void Remove(const std::string& name) const;

 private:
  std::string path_;
};
