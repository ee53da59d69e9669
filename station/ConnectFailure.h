// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Why a connection to a network station failed, from what the network layer found: the kind
// and its facts, decided in one place; the program words them for its operator.
#pragma once

#include <string>
#include <string_view>

#include "serial/SerialPortException.h"

// What was found about a failed connection.
struct TConnectFacts {
  // gensio's error.
  int Error = 0;
  // The address asked for TLS, and named a key of the operator's own.
  bool Tls = false;
  bool OwnKey = false;
  // "CN=<name>" of the station's certificate, and what its check found wrong.
  std::string Subject;
  int CertificateError = 0;
  bool WrongHost = false;
  // What the station said first.
  std::string FirstWords;
  // The station said nothing in its first second and hung up at once when nudged.
  bool HungUpOnNudge = false;
  // The TLS handshake got as far as the station's certificate: the station speaks TLS.
  bool CertificateShown = false;
  // Its kernel took the connection, but the station sent not one byte on it (the kernel's
  // count): a hung or stopped server, not one that refused what was asked.
  bool Silent = false;
};

class TConnectFailure {
 public:
  // The failure's kind and findings into `report`, with the network layer's or the station's
  // own words as its SystemReason.
  static void Classify(const TConnectFacts& facts, TStationReport& report);
  // A busy station says so in its first words.
  static bool SaysInUse(std::string_view words);
  // A busy station's first line, as its own words.
  static std::string FirstLine(std::string_view words);
};
