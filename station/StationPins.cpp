// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The trusted stations' file, read and written with POSIX calls.
#include "station/StationPins.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "station/NetworkAddress.h"
#include "station/PrivateFile.h"
#include "text/AsciiText.h"

namespace {

constexpr const char* kFileName = "known-stations";
constexpr const char* kHeading =
    "# Stations whose certificates this user trusts: HOST:PORT and the certificate's SHA-256\n"
    "# fingerprint. Written by Orvel; a line removed makes Orvel ask again.\n";
// Far more than any operator has stations; a larger file is not this program's.
constexpr off_t kLargestFile = 1 << 20;

bool ReadWhole(int fd, std::string& text) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got == 0;
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

TStationPins::TStationPins(const std::string& folder)
    : folder_(folder), file_(folder.empty() ? std::string() : folder + "/" + kFileName) {}

bool TStationPins::Load(TPins& pins, std::string& reason) const {
  pins.clear();
  if (file_.empty()) return true;
  // Another user who may change the file or its folder could remove a pin, and so turn the
  // refusal of a changed certificate back into a first-use question.
  const int fd = OpenPrivateFile(file_, 022, reason);
  if (fd < 0) return reason.empty();
  struct stat status {};
  std::string text;
  if (::fstat(fd, &status) == 0 && status.st_size > kLargestFile) {
    reason = file_ + " is too large to be the trusted stations";
  } else if (!ReadWhole(fd, text)) {
    reason = "Cannot read " + file_ + ": " + std::strerror(errno);
  }
  ::close(fd);
  if (!reason.empty()) return false;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string station, fingerprint, extra;
    fields >> station >> fingerprint;
    std::string malformed;
    const std::optional<TNetworkAddress> address =
        TNetworkAddress::ParseStation(station, malformed);
    const bool sound = !(fields >> extra) && address && address->Station() == station &&
                       NormalFingerprint(fingerprint) == fingerprint;
    if (!sound) {
      reason = file_ + " is damaged at line " + std::to_string(number) +
               "; correct or remove that line (HOST:PORT and a SHA-256 fingerprint)";
      return false;
    }
    pins.emplace_back(station, fingerprint);
  }
  return true;
}

TPinCheck TStationPins::Check(const std::string& station, const std::string& fingerprint) const {
  TPins pins;
  TPinCheck check;
  if (!Load(pins, check.Reason)) {
    check.Verdict = TPinVerdict::Unreadable;
    return check;
  }
  const auto pin = std::find_if(pins.begin(), pins.end(),
                                [&](const auto& entry) { return entry.first == station; });
  if (pin == pins.end()) return check;
  check.Verdict = pin->second == fingerprint ? TPinVerdict::Trusted : TPinVerdict::Changed;
  check.Pinned = pin->second;
  return check;
}

bool TStationPins::Pin(const std::string& station, const std::string& fingerprint,
                       std::string& previous, std::string& reason) const {
  previous.clear();
  if (file_.empty()) {
    reason = "Neither XDG_CONFIG_HOME nor HOME names a place for the trusted stations";
    return false;
  }
  TPins pins;
  if (!Load(pins, reason) || !MakePrivateFolder(folder_, reason)) return false;
  std::string text = kHeading;
  bool added = false;
  for (const auto& [name, pinned] : pins) {
    if (name == station) {
      previous = pinned;
      added = true;
    }
    text += name + " " + (name == station ? fingerprint : pinned) + "\n";
  }
  if (!added) text += station + " " + fingerprint + "\n";
  return WritePrivateFile(file_, text, 0600, reason);
}

std::string NormalFingerprint(std::string_view text) {
  // Either plain digits or a colon after every pair but the last, as openssl prints them.
  const bool colons = text.find(':') != std::string_view::npos;
  if (colons && text.size() != 95) return {};
  std::string digits;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (colons && i % 3 == 2) {
      if (c != ':') return {};
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    digits += c;
  }
  if (digits.size() != 64) return {};
  digits = AsciiUpperCase(digits);
  std::string normal;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    if (i > 0) normal += ':';
    normal += digits.substr(i, 2);
  }
  return normal;
}

bool TStationPins::Forget(const std::string& station, bool& forgotten, std::string& reason) const {
  forgotten = false;
  TPins pins;
  if (!Load(pins, reason)) return false;
  std::string text = kHeading;
  for (const auto& [name, pinned] : pins) {
    if (name == station) {
      forgotten = true;
      continue;
    }
    text += name + " " + pinned + "\n";
  }
  return !forgotten || WritePrivateFile(file_, text, 0600, reason);
}

std::string FingerprintLines(const std::string& fingerprint) {
  // 32 groups of two digits and a colon: four lines of eight groups.
  std::string lines;
  for (std::size_t start = 0; start < fingerprint.size(); start += 24) {
    if (!lines.empty()) lines += '\n';
    lines += "  " + fingerprint.substr(start, 23);
  }
  return lines;
}

std::string ShortFingerprint(const std::string& fingerprint) {
  const std::string lines = FingerprintLines(fingerprint);
  return lines.substr(2, lines.find('\n') - 2);
}
