// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
#include "station/PortEntries.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/PortsDirectory.h"
#include "serial/posix/PortList.h"
#include "station/PrivateFile.h"
#include "text/AsciiText.h"

bool PortNameFree(const std::string& name, const std::string& renamed, std::string& reason) {
  const std::string directoryPath = PortsDirectory();
  const std::string upper = AsciiUpperCase(name);
  if (DIR* directory = directoryPath.empty() ? nullptr : ::opendir(directoryPath.c_str())) {
    std::string taken;
    while (const dirent* item = ::readdir(directory)) {
      const std::string_view fileName = item->d_name;
      if (fileName == "." || fileName == ".." || fileName == renamed) continue;
      if (AsciiUpperCase(TrimControls(fileName)) == upper) taken = fileName;
    }
    ::closedir(directory);
    if (!taken.empty()) {
      reason = upper + " is taken by " + directoryPath + "/" + EscapeControls(taken) +
               " in the port directory, which Orvel leaves as it is: give the station another "
               "name";
      return false;
    }
  } else if (!directoryPath.empty() && errno != ENOENT) {
    reason = "Cannot read the port directory " + directoryPath + ": " + std::strerror(errno);
    return false;
  }
  // An entry named after a device would hide it from the list as soon as it is plugged in.
  if (const std::string device = DeviceNamed(upper); !device.empty()) {
    reason = upper + " is the port list's name for " + device + ": give the station another name";
    return false;
  }
  return true;
}

bool WriteNetworkPortEntry(const std::string& name, const std::string& address,
                           const std::string& note, std::string& reason) {
  const TPortsDirectoryPlace place = PortsDirectoryPlace();
  if (place.Path.empty()) {
    reason = "Neither ORVEL_PORTS_DIR, XDG_CONFIG_HOME nor HOME names the port directory";
    return false;
  }
  // Both lines and their line ends are read back whole, or the note is missed.
  const std::string text = address + "\n" + note + "\n";
  if (text.size() > kPortEntryReadSize) {
    reason = "The address is too long for a port entry (at most " +
             std::to_string(kPortEntryReadSize - note.size() - 2) + " characters)";
    return false;
  }
  if (!PortNameFree(name, {}, reason)) return false;
  // The default folder is made on first need; one that the operator named must be there.
  if (!place.Named && !MakePrivateFolder(place.Path.substr(0, place.Path.rfind('/')), reason))
    return false;
  if (!place.Named && ::mkdir(place.Path.c_str(), 0700) != 0 && errno != EEXIST) {
    reason = "Cannot make " + place.Path + ": " + std::strerror(errno);
    return false;
  }
  return WriteNewPrivateFile(place.Path + "/" + name, text, 0644, reason);
}

bool RenamePortEntry(const std::string& fileName, const std::string& newName, std::string& reason) {
  if (!PortNameFree(newName, fileName, reason)) return false;
  if (newName == fileName) return true;
  const std::string directory = PortsDirectory();
  const std::string from = directory + "/" + fileName, to = directory + "/" + newName;
  // link() fails where anything stands; the entry has both names only for a moment.
  if (::link(from.c_str(), to.c_str()) != 0 || ::unlink(from.c_str()) != 0) {
    reason = "Cannot rename " + AsciiUpperCase(fileName) + ": " + std::strerror(errno);
    return false;
  }
  return true;
}
