// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Station entries are files of the port directory whose first line is the address; the port list
// reads only that line, so the second one marks the entries that Add Station wrote.
#include "app/StationDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "serial/PortsDirectory.h"
#include "station/NetworkAddress.h"
#include "station/PortEntries.h"
#include "station/StationPins.h"
#include "text/AsciiText.h"

namespace {

constexpr std::string_view kMark = "# Added by Orvel: rename, remove or forget it in Orvel.";

// The first two lines of a small regular file (no link is followed).
bool ReadEntry(const std::string& path, std::string& first, std::string& second) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat status {};
  char text[kPortEntryReadSize];
  ssize_t count = -1;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) count = ::read(fd, text, sizeof text);
  ::close(fd);
  if (count <= 0) return false;
  const std::string_view all(text, static_cast<std::size_t>(count));
  const std::size_t end = all.find_first_of("\r\n");
  first = std::string(all.substr(0, end));
  second.clear();
  if (end != std::string_view::npos) {
    std::string_view rest = all.substr(end + 1);
    if (rest.starts_with('\n')) rest.remove_prefix(1);
    second = std::string(rest.substr(0, rest.find_first_of("\r\n")));
  }
  return true;
}

bool SameName(const std::string& a, const std::string& b) {
  return AsciiUpperCase(a) == AsciiUpperCase(b);
}

}  // namespace

TStationDirectory::TStationDirectory() : directory_(PortsDirectory()) {}

bool TStationDirectory::Entries(std::vector<TStationEntry>& entries, std::string& reason) const {
  entries.clear();
  if (directory_.empty()) return true;
  DIR* directory = ::opendir(directory_.c_str());
  if (!directory) {
    if (errno == ENOENT) return true;
    reason = "Cannot read the port directory " + directory_ + ": " + std::strerror(errno);
    return false;
  }
  const TStationPins pins;
  while (const dirent* item = ::readdir(directory)) {
    std::string address, mark;
    const std::string fileName = item->d_name;
    if (fileName.starts_with('.')) continue;
    if (!ReadEntry(directory_ + "/" + fileName, address, mark)) continue;
    address = std::string(TrimControls(address));
    if (!TNetworkAddress::IsAddress(address)) continue;
    TStationEntry entry;
    entry.Name = AsciiUpperCase(std::string(TrimControls(fileName)));
    entry.FileName = fileName;
    const std::size_t scheme = address.find("://");
    const std::string rest = address.substr(scheme + 3, address.find('?') - scheme - 3);
    std::string malformed;
    const std::optional<TNetworkAddress> station = TNetworkAddress::ParseStation(rest, malformed);
    if (station) entry.Station = station->Station();
    entry.Shown = TNetworkAddress::MaskedWithoutOptions(address);
    entry.Tls = address.starts_with("rfc2217+tls://");
    // Asked with no fingerprint, the pins name the one they hold for the station.
    if (entry.Tls && !entry.Station.empty()) entry.Pinned = pins.Check(entry.Station, "").Pinned;
    entry.MadeByOrvel = mark == kMark;
    entries.push_back(std::move(entry));
  }
  ::closedir(directory);
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.Name < b.Name; });
  return true;
}

bool TStationDirectory::Find(const std::string& name, TStationEntry& entry,
                             std::string& reason) const {
  std::vector<TStationEntry> entries;
  if (!Entries(entries, reason)) return false;
  for (const TStationEntry& candidate : entries) {
    if (SameName(candidate.Name, name)) {
      entry = candidate;
      return true;
    }
  }
  reason = "No station is listed as " + AsciiUpperCase(name);
  return false;
}

std::string TStationDirectory::CheckName(const std::string& name) {
  if (name.empty()) return "Give the station a name for the port list";
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
  if (!plain || name[0] == '.') return "A port name is letters, digits and - _ . (not first)";
  if (name.size() > 64) return "A port name is at most 64 characters long";
  return {};
}

std::string TStationDirectory::Address(const std::string& host, unsigned port, bool tls) {
  std::string reason;
  const std::optional<TNetworkAddress> address = TNetworkAddress::FromHost(
      host, port, tls ? TNetworkKind::Rfc2217Tls : TNetworkKind::Rfc2217, reason);
  return address ? address->Text() : std::string();
}

std::string TStationDirectory::NameRefused(const std::string& name,
                                           const std::string& renamed) const {
  if (std::string problem = CheckName(name); !problem.empty()) return problem;
  TStationEntry taken;
  std::string reason;
  if (Find(name, taken, reason) && taken.FileName != renamed)
    return "A port named " + AsciiUpperCase(name) + " is listed already";
  if (!PortNameFree(name, renamed, reason)) return reason;
  return {};
}

bool TStationDirectory::Add(const std::string& name, const std::string& address,
                            std::string& reason) const {
  if (reason = NameRefused(name); !reason.empty()) return false;
  // Written as the address type writes it, so that it is read back as the same station.
  const std::optional<TNetworkAddress> station = TNetworkAddress::Parse(address, reason);
  return station && WriteNetworkPortEntry(name, station->Text(), std::string(kMark), reason);
}

bool TStationDirectory::Changeable(const std::string& name, TStationEntry& entry,
                                   std::string& reason) const {
  if (!Find(name, entry, reason)) return false;
  if (entry.MadeByOrvel) return true;
  reason = entry.Name + " was written by hand (" + directory_ + "/" + entry.FileName +
           "): Orvel leaves it as it is; change or remove that file yourself";
  return false;
}

bool TStationDirectory::Rename(const std::string& name, const std::string& newName,
                               std::string& reason) const {
  TStationEntry entry;
  if (!Changeable(name, entry, reason)) return false;
  if (reason = NameRefused(newName, entry.FileName); !reason.empty()) return false;
  return RenamePortEntry(entry.FileName, newName, reason);
}

bool TStationDirectory::Remove(const std::string& name, std::string& reason) const {
  TStationEntry entry;
  if (!Changeable(name, entry, reason)) return false;
  if (::unlink((directory_ + "/" + entry.FileName).c_str()) != 0) {
    reason = "Cannot remove " + entry.Name + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool TStationDirectory::Forget(const std::string& name, std::string& reason) const {
  TStationEntry entry;
  if (!Find(name, entry, reason)) return false;
  if (!entry.Tls) {
    reason = entry.Name + " does not use TLS: there is no certificate to forget";
    return false;
  }
  bool forgotten = false;
  if (!TStationPins().Forget(entry.Station, forgotten, reason)) return false;
  if (!forgotten) reason = "No certificate is trusted for " + entry.Station;
  return forgotten;
}

std::string StationDescription(const TStationEntry& entry, const std::string& heard) {
  std::string text = entry.Name + "\n" + entry.Shown + "\n";
  if (!entry.Tls) {
    text += "Not encrypted (no TLS)";
  } else if (entry.Pinned.empty()) {
    text += "TLS, certificate not trusted yet";
  } else {
    text += "TLS, certificate " + ShortFingerprint(entry.Pinned);
  }
  if (!heard.empty()) text += "\n" + heard;
  return text;
}
