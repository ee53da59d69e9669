// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// OverwriteFile on POSIX: open without following a link or blocking, check the kind, truncate.
#include "monitor/OverwriteFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

TOverwriteResult OverwriteFile(const std::string& path, std::string_view bytes) {
  // No O_TRUNC: the kind is known only once the name is open, and a FIFO or a device must
  // not be changed. O_NONBLOCK keeps a FIFO without a reader, or a device, from holding the
  // window; O_NOCTTY keeps a terminal from becoming the program's.
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return TOverwriteResult::CannotCreate;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return TOverwriteResult::CannotCreate;
  }
  // A full disk or a size limit must not pass for a saved file.
  bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  return written ? TOverwriteResult::Written : TOverwriteResult::CannotWrite;
}
