// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The stations whose self-signed certificates the operator chose to trust, as ssh keeps the
// hosts it knows: one file of HOST:PORT and SHA-256 fingerprint lines in the user's
// configuration folder. A station that later shows another certificate is refused, not asked.
// Also the forms in which a fingerprint is written and shown, here and by orvel-station.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "serial/PortsDirectory.h"
#include "station/NetworkAddress.h"

enum class TPinVerdict : std::uint8_t {
  // No certificate is pinned for the station.
  Unknown,
  // The one pinned is the one shown.
  Trusted,
  // Another one is pinned: someone may stand between, or the station has a new certificate.
  Changed,
  // The file cannot be trusted itself (a link, others may change it, a damaged line).
  Unreadable
};

struct TPinCheck {
  TPinVerdict Verdict = TPinVerdict::Unknown;
  // The fingerprint pinned for the station (Changed).
  std::string Pinned;
  // Why the file was not read (Unreadable).
  std::string Reason;
};

class TStationPins {
 public:
  // The pins in `folder`/known-stations; with no folder (no HOME) nothing is pinned.
  explicit TStationPins(const std::string& folder = UserConfigDirectory());

  const std::string& File() const { return file_; }
  // `station` as TNetworkAddress::Station gives it; `fingerprint` in the form of PemFingerprint.
  TPinCheck Check(const std::string& station, const std::string& fingerprint) const;
  // Pins the fingerprint for the station, in place of one pinned before (then in `previous`).
  bool Pin(const std::string& station, const std::string& fingerprint, std::string& previous,
           std::string& reason) const;
  // Removes the station's pin, so that the next connection asks about its certificate again
  // (a station given a new key). True, with `forgotten` false, when none was pinned.
  bool Forget(const std::string& station, bool& forgotten, std::string& reason) const;

 private:
  using TPins = std::vector<std::pair<std::string, std::string>>;
  // The pins; false with the reason when the file is there but not to be trusted.
  bool Load(TPins& pins, std::string& reason) const;

  std::string folder_;
  std::string file_;
};

// "AB:CD:..." from 64 hexadecimal digits in either case, with or without colons; empty when the
// text is no SHA-256 fingerprint.
std::string NormalFingerprint(std::string_view text);
// A SHA-256 fingerprint in lines of eight groups, so that a box never breaks it inside a group.
std::string FingerprintLines(const std::string& fingerprint);
// The first of those lines without its indent: enough to tell two certificates apart at a glance,
// and found at once in what the station prints.
std::string ShortFingerprint(const std::string& fingerprint);
