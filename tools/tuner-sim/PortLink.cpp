// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Creating and removing the port's link without disturbing anyone else's.
#include "tools/tuner-sim/PortLink.h"

#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

PortLink::PortLink(const std::string& directory, const std::string& name, const std::string& target)
    : path_(directory + "/" + name), target_(target) {
  std::error_code error;
  fs::create_directories(directory, error);
  if (error) {
    throw std::runtime_error("cannot create the port directory " + directory + ": " +
                             error.message());
  }
  const fs::path link(path_);
  const fs::file_status status = fs::symlink_status(link, error);
  if (fs::exists(status)) {
    // A link whose device is gone is left over from a run that could not clean up (killed);
    // anything else belongs to someone who still uses the name.
    if (!fs::is_symlink(status) || fs::exists(link, error)) {
      throw std::runtime_error(path_ + " is in use; choose another name with --name");
    }
  }
  // Made under a temporary name and renamed, so that a port listing never sees a half-made
  // entry and a stale link is replaced in one step.
  const fs::path temporary = directory + "/." + name + ".tmp" + std::to_string(getpid());
  fs::remove(temporary, error);
  fs::create_symlink(target, temporary, error);
  if (!error) fs::rename(temporary, link, error);
  if (error) {
    fs::remove(temporary, error);
    throw std::runtime_error("cannot create the link " + path_ + ": " + error.message());
  }
  present_ = true;
}

PortLink::~PortLink() {
  Remove();
}

void PortLink::Remove() {
  if (!present_) return;
  present_ = false;
  std::error_code error;
  if (fs::read_symlink(path_, error) == fs::path(target_)) fs::remove(path_, error);
}
