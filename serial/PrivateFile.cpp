// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Writing the user's private files with POSIX calls.
#include "PrivateFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

bool WritePrivateFile(const std::string& path, const std::string& text, mode_t mode,
                      std::string& reason) {
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    reason = "Cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  bool written = ::fchmod(fd, mode) == 0;
  for (std::size_t done = 0; written && done < text.size();) {
    const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    written = count > 0;
    if (written) done += static_cast<std::size_t>(count);
  }
  written = written && ::fsync(fd) == 0;
  const int error = errno;
  written = ::close(fd) == 0 && written;
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  reason = "Cannot write " + path + ": " + std::strerror(written ? errno : error);
  ::unlink(temporary.c_str());
  return false;
}

bool MakePrivateFolder(const std::string& folder, std::string& reason) {
  // The parent may be missing on a fresh account; only the folder of our own is kept private.
  const std::string parent = folder.substr(0, folder.rfind('/'));
  for (const std::string& path : {parent, folder}) {
    if (!path.empty() && ::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      reason = "Cannot make " + path + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}
