// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Operator-facing reasons for failing device calls.
#include "serial/posix/SystemMessage.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
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

// "orvel, process 1234" for the process that holds the device's lock (a second Orvel, or
// any program that locks the device the same way); empty when nobody does. Other processes
// may hold the device open without using it (the far end's program keeps a pseudo-terminal's
// slave side open too), so they are not named.
std::string HolderOf(const std::string& devicePath) {
  struct stat device {};
  if (::stat(devicePath.c_str(), &device) != 0) return {};
  char wanted[64];
  std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(device.st_dev), minor(device.st_dev),
                static_cast<unsigned long long>(device.st_ino));
  // Lines such as "1: FLOCK  ADVISORY  WRITE 1234 00:19:6 0 EOF"; a waiting lock has "->"
  // after the number.
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, pid, file;
    fields >> number >> kind;
    if (kind == "->") continue;
    fields >> mode >> access >> pid >> file;
    if (kind != "FLOCK" || file != wanted) continue;
    std::string name;
    std::ifstream comm("/proc/" + pid + "/comm");
    if (!std::getline(comm, name)) return {};
    return (name.empty() ? std::string("process") : name + ", process") + " " + pid;
  }
  return {};
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
