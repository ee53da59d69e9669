// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Operator-facing reasons for failing device calls.
#include "SystemMessage.h"

#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

std::string ErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text, not always in the buffer.
  return strerror_r(error, buffer, sizeof buffer);
}

std::string GroupOf(const std::string& devicePath) {
  struct stat status {};
  if (::stat(devicePath.c_str(), &status) != 0) return {};
  std::vector<char> buffer(16384);
  struct group entry {};
  struct group* found = nullptr;
  if (getgrgid_r(status.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return std::to_string(status.st_gid);
  }
  return found->gr_name;
}

bool IsNumber(const char* text) {
  if (*text == '\0') return false;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// Whether any open file of the process is the character device.
bool ProcessHolds(const std::string& pid, dev_t device) {
  const std::string fdDirectory = "/proc/" + pid + "/fd";
  DIR* directory = ::opendir(fdDirectory.c_str());
  if (!directory) return false;
  bool holds = false;
  while (const dirent* entry = ::readdir(directory)) {
    if (!IsNumber(entry->d_name)) continue;
    struct stat status {};
    const std::string link = fdDirectory + "/" + entry->d_name;
    if (::stat(link.c_str(), &status) == 0 && S_ISCHR(status.st_mode) && status.st_rdev == device) {
      holds = true;
      break;
    }
  }
  ::closedir(directory);
  return holds;
}

// "picocom, process 1234" for the first process found holding the device; empty if none.
std::string HolderOf(const std::string& devicePath) {
  struct stat device {};
  if (::stat(devicePath.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) return {};
  DIR* proc = ::opendir("/proc");
  if (!proc) return {};
  std::string holder;
  while (const dirent* entry = ::readdir(proc)) {
    if (!IsNumber(entry->d_name) || !ProcessHolds(entry->d_name, device.st_rdev)) continue;
    std::string name;
    std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
    std::getline(comm, name);
    holder = (name.empty() ? std::string("process") : name + ", process") + " " + entry->d_name;
    break;
  }
  ::closedir(proc);
  return holder;
}

void TrimEnd(std::string& text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) {
    text.pop_back();
  }
}

}  // namespace

std::string SystemMessage(int error, const std::string& devicePath) {
  std::string message = ErrorText(error);
  TrimEnd(message);
  if (error == EACCES || error == EPERM) {
    if (const std::string group = GroupOf(devicePath); !group.empty()) {
      message += " (the device belongs to group " + group + ")";
    }
  } else if (error == EBUSY) {
    if (const std::string holder = HolderOf(devicePath); !holder.empty()) {
      message += " (in use by " + holder + ")";
    }
  }
  TrimEnd(message);
  return message;
}
