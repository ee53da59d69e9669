// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The serial layer's failures: the operator's text word for word, and a kind that code and
// tests can tell apart without reading the text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

enum class TSerialErrorKind : std::uint8_t {
  None,
  // The device or port name does not exist.
  NotFound,
  // Another open file (this program's own included) holds the device.
  Busy,
  Permission,
  // The device refused the line settings.
  RefusedSetting,
  // The properties contradict each other (data width and stop bits).
  InvalidSetting,
  // The device went away while open (a read or write failed, the far end hung up).
  Vanished,
  NotOpen,
  // The system is out of threads, descriptors or memory.
  OutOfResources,
  // The other end took nothing within the write's time-out.
  WriteTimedOut,
  // Writes were stopped for good (the program is ending).
  WriteAborted,
  LogFile,
  // A TLS station showed a certificate that nothing vouches for and that the operator has not
  // trusted yet.
  UnknownStation,
  // A TLS station showed another certificate than the one the operator trusted.
  StationChanged,
  Other
};

// The certificate a TLS station showed, for the operator to decide on: the station as HOST:PORT
// and the certificate's SHA-256 fingerprint.
struct TStationCertificate {
  std::string Station;
  std::string Fingerprint;
};

class ESerialPortException : public std::runtime_error {
 public:
  ESerialPortException(TSerialErrorKind kind, const std::string& message,
                       TStationCertificate certificate = {})
      : std::runtime_error(message), kind_(kind), certificate_(std::move(certificate)) {}
  TSerialErrorKind Kind() const { return kind_; }
  // Filled for UnknownStation and StationChanged.
  const TStationCertificate& Certificate() const { return certificate_; }

 private:
  TSerialErrorKind kind_;
  TStationCertificate certificate_;
};
