// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Why a connection to a network station failed, from what the network layer found: the kind
// for the program and the operator's reason, each decided in one place.
#pragma once

#include <string>
#include <string_view>

#include "SerialPortException.h"

// What was found about a failed connection.
struct TConnectFacts {
  // gensio's error.
  int Error = 0;
  std::string Host;
  // The address asked for TLS, and named a key of the operator's own.
  bool Tls = false;
  bool OwnKey = false;
  // "CN=<name>" of the station's certificate, and what its check found wrong.
  std::string Subject;
  int CertificateError = 0;
  bool WrongHost = false;
  // What the station said first, and gensio's last log line.
  std::string FirstWords;
  std::string Log;
  // The station said nothing in its first second and hung up at once when nudged.
  bool HungUpOnNudge = false;
};

class TConnectFailure {
 public:
  // The operator's reason ("Connection refused"), its kind in `failure`.
  static std::string Describe(const TConnectFacts& facts, TStationFailure& failure);
  static constexpr const char* InUseReason = "Station in use by another client";
  // A busy station says so in its first words.
  static bool SaysInUse(std::string_view words);
};
