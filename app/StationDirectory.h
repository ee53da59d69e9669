// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The network stations of the port directory, as the window and the command line manage them:
// listed with what is trusted about them, added, renamed, removed, and their certificate
// forgotten. Only entries that Orvel wrote are changed; one written by hand is left alone.
#pragma once

#include <string>
#include <vector>

struct TStationEntry {
  // As the port list shows it (upper case), and the entry's file name.
  std::string Name;
  std::string FileName;
  // scheme://HOST:PORT, without the options (which may name a key).
  std::string Shown;
  // HOST:PORT as the trusted stations name it.
  std::string Station;
  bool Tls = false;
  // The fingerprint trusted for the station; empty when none is.
  std::string Pinned;
  // Written by Add Station, not by hand.
  bool MadeByOrvel = false;
};

class TStationDirectory {
 public:
  // The port directory and the trusted stations of this user ($ORVEL_PORTS_DIR, ~/.config/orvel).
  TStationDirectory();

  // The network entries, sorted by name. False with the reason when the directory is unreadable.
  bool Entries(std::vector<TStationEntry>& entries, std::string& reason) const;
  // The entry listed under this name (letter case ignored), when there is one.
  bool Find(const std::string& name, TStationEntry& entry, std::string& reason) const;

  // Empty when a new entry may be named `name` (`renamed`: the file name of the entry that is to
  // take it); else why not: the name is malformed, a station's, another entry's of the port
  // directory (a link, a note: whatever the operator put there) or a device's.
  std::string NameRefused(const std::string& name, const std::string& renamed = {}) const;
  // Writes a new entry: refused where NameRefused refuses, and for an address that the address
  // type refuses or that is too long to be read back whole.
  bool Add(const std::string& name, const std::string& address, std::string& reason) const;
  bool Rename(const std::string& name, const std::string& newName, std::string& reason) const;
  bool Remove(const std::string& name, std::string& reason) const;
  // Forgets the certificate trusted for the entry's station: the next connection asks again.
  bool Forget(const std::string& name, std::string& reason) const;

  // Empty when `name` may name a port; else what is wrong.
  static std::string CheckName(const std::string& name);
  // scheme://HOST:PORT for a station, an IPv6 host in brackets; empty when the host is none.
  static std::string Address(const std::string& host, unsigned port, bool tls);

 private:
  bool Changeable(const std::string& name, TStationEntry& entry, std::string& reason) const;

  std::string directory_;
};

// What the port list says of a station: its address without secrets, TLS or not, and the
// certificate trusted for it in short, one a line. `heard` is a last line while it is open.
std::string StationDescription(const TStationEntry& entry, const std::string& heard = {});
