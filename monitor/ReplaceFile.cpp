// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// ReplaceFile on POSIX: an exclusive new file, written whole and synced, renamed over the name.
#include "ReplaceFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

namespace {

// The new file's name: hidden, in the same directory (rename does not cross file systems).
std::string NameBeside(const std::string& path, unsigned long long salt) {
  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, ".%016llx", salt);
  return directory + "." + base + suffix;
}

int CreateExclusive(const std::string& name) {
  int fd;
  do {
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

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

TReplaceResult ReplaceFile(const std::string& path, std::string_view bytes) {
  std::random_device entropy;
  std::string temporary;
  int fd = -1;
  // O_EXCL refuses any name that exists, links included; another name is tried on a clash.
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temporary = NameBeside(path, (static_cast<unsigned long long>(entropy()) << 32) ^ entropy());
    fd = CreateExclusive(temporary);
    if (fd < 0 && errno != EEXIST) return TReplaceResult::CannotCreate;
  }
  if (fd < 0) return TReplaceResult::CannotCreate;

  // A full disk or a size limit must not pass for a saved file.
  bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (!written) {
    ::unlink(temporary.c_str());
    return TReplaceResult::CannotWrite;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return TReplaceResult::CannotCreate;
  }
  return TReplaceResult::Replaced;
}
