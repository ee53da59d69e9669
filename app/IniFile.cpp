// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// INI file reading. The file is opened without blocking and checked before anything is read:
// a FIFO would hold the start-up forever, and /dev/zero or /dev/urandom never end.
#include "app/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "text/AsciiText.h"

namespace {

// The whole file, when it is a regular file within the size bound.
std::optional<std::string> ReadSettingsFile(const std::string& path) {
  // Opening a device can act on it (a serial line raises DTR): only a regular file is opened,
  // and checked again once open, in case it was replaced in between.
  struct stat before {};
  if (::stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return std::nullopt;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> content;
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
      static_cast<std::size_t>(status.st_size) <= kMaxSettingsFileBytes) {
    // Read in pieces: a file that grew past the bound since fstat is dropped once it shows.
    std::string bytes;
    char piece[64 * 1024];
    bool failed = false;
    while (bytes.size() <= kMaxSettingsFileBytes) {
      const ssize_t got = ::read(fd, piece, sizeof piece);
      if (got > 0) {
        bytes.append(piece, static_cast<std::size_t>(got));
      } else if (got == 0) {
        break;
      } else if (errno != EINTR) {
        failed = true;
        break;
      }
    }
    if (!failed && bytes.size() <= kMaxSettingsFileBytes) content = std::move(bytes);
  }
  ::close(fd);
  return content;
}

}  // namespace

std::optional<std::string> ReadIniString(const std::string& path, const std::string& section,
                                         const std::string& key, const std::string& fallback) {
  const std::optional<std::string> content = ReadSettingsFile(path);
  if (!content) return std::nullopt;
  bool inSection = false;
  bool firstLine = true;
  for (std::size_t start = 0; start < content->size();) {
    std::size_t end = content->find('\n', start);
    if (end == std::string::npos) end = content->size();
    std::string raw = content->substr(start, end - start);
    start = end + 1;
    // Editors on the desktop may start the file with a UTF-8 byte order mark.
    if (firstLine && raw.starts_with("\xEF\xBB\xBF")) raw.erase(0, 3);
    firstLine = false;
    const std::string line(TrimControls(raw));
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      inSection =
          close != std::string::npos &&
          SameAsciiNoCase(TrimControls(std::string_view(line).substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos ||
        !SameAsciiNoCase(TrimControls(std::string_view(line).substr(0, equals)), key))
      continue;
    std::string value(TrimControls(std::string_view(line).substr(equals + 1)));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return fallback;
}
