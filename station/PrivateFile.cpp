// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The user's private files with POSIX calls. Each check is made on the open descriptor (fstat),
// so that nothing can be swapped in between the check and the use.
#include "station/PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The folder opened without following a link, once checked; -1 with an empty reason when it is
// not there.
int OpenPrivateFolder(const std::string& folder, std::string& reason) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return -1;
    struct stat status {};
    reason = errno == ELOOP || (::lstat(folder.c_str(), &status) == 0 && S_ISLNK(status.st_mode))
                 ? folder +
                       " is a symbolic link; Orvel keeps its private files only in a folder of "
                       "this user's: put the folder itself in place of the link"
                 : "Cannot open the folder " + folder + ": " + std::strerror(errno);
    return -1;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    reason = "Cannot open the folder " + folder + ": " + std::strerror(errno);
  } else if (status.st_uid != ::geteuid()) {
    reason = folder +
             " belongs to another user; Orvel keeps its private files only in a folder of this "
             "user's: move it away, and Orvel makes its own";
  } else if ((status.st_mode & 022) != 0) {
    reason = folder + " can be changed by others; make it private: chmod 700 " + folder;
  }
  if (reason.empty()) return fd;
  ::close(fd);
  return -1;
}

// Writes the text whole into a new file beside `path`, synced, and names it in `temporary`.
bool WriteBeside(const std::string& path, const std::string& text, mode_t mode,
                 std::string& temporary, std::string& reason) {
  temporary = path + ".XXXXXX";
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
  if (written) return true;
  reason = "Cannot write " + path + ": " + std::strerror(error);
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace

int OpenPrivateFile(const std::string& path, mode_t forbidden, std::string& reason) {
  reason.clear();
  const int folder = OpenPrivateFolder(FolderOf(path), reason);
  if (folder < 0) return -1;
  const std::string name = path.substr(path.rfind('/') + 1);
  const int fd =
      ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  const int error = errno;
  ::close(folder);
  if (fd < 0) {
    if (error != ENOENT) {
      reason = error == ELOOP ? path + " is a symbolic link, not a file of its own: remove the link"
                              : "Cannot read " + path + ": " + std::strerror(error);
    }
    return -1;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    reason = "Cannot read " + path + ": " + std::strerror(errno);
  } else if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
    reason = path + " is not a file of this user's";
  } else if ((status.st_mode & forbidden & 022) != 0) {
    reason = path + " can be changed by others; make it private: chmod 600 " + path;
  } else if ((status.st_mode & forbidden) != 0) {
    reason = path + " can be read by others; make it private: chmod 600 " + path;
  }
  if (reason.empty()) return fd;
  ::close(fd);
  return -1;
}

bool CheckPrivateFolder(const std::string& folder, std::string& reason) {
  reason.clear();
  const int fd = OpenPrivateFolder(folder, reason);
  if (fd >= 0) ::close(fd);
  return reason.empty();
}

bool MakePrivateFolder(const std::string& folder, std::string& reason) {
  // The parent may be missing on a fresh account; only the folder of our own is kept private.
  const std::string parent = FolderOf(folder);
  for (const std::string& path : {parent, folder}) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
      reason = "Cannot make " + path + ": " + std::strerror(errno);
      return false;
    }
  }
  return CheckPrivateFolder(folder, reason);
}

bool WritePrivateFile(const std::string& path, const std::string& text, mode_t mode,
                      std::string& reason) {
  std::string temporary;
  if (!WriteBeside(path, text, mode, temporary, reason)) return false;
  if (::rename(temporary.c_str(), path.c_str()) == 0) return true;
  reason = "Cannot write " + path + ": " + std::strerror(errno);
  ::unlink(temporary.c_str());
  return false;
}

bool WriteNewPrivateFile(const std::string& path, const std::string& text, mode_t mode,
                         std::string& reason) {
  std::string temporary;
  if (!WriteBeside(path, text, mode, temporary, reason)) return false;
  // A hard link is made only where nothing stands, on every file system (NFS included, which
  // refuses renameat2's RENAME_NOREPLACE).
  const bool linked = ::link(temporary.c_str(), path.c_str()) == 0;
  const int error = errno;
  ::unlink(temporary.c_str());
  if (linked) return true;
  reason = "Cannot write " + path + ": " + std::strerror(error);
  return false;
}
