// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The symbolic link in the port directory that gives the pseudo-terminal its port name.
#pragma once

#include <string>

class PortLink {
 public:
  // Creates the directory when missing, then `directory`/`name` pointing at `target`. Throws
  // std::runtime_error when the name is taken by a live link or anything else.
  PortLink(const std::string& directory, const std::string& name, const std::string& target);
  ~PortLink();
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;

  const std::string& Path() const { return path_; }

  // Removes the link, unless it has since been replaced by one pointing elsewhere.
  void Remove();

 private:
  std::string path_;
  std::string target_;
  bool present_ = false;
};
