// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The serial layer's failures: a plain text of what happened, and a kind and facts that code
// and tests can tell apart without reading the text, and the program words for its operator.
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

// Why a network station could not be reached or used: what the program acts on (whether trying
// again can help) without reading the text.
enum class TStationFailure : std::uint8_t {
  None,
  Refused,
  HostNotFound,
  // The name server itself failed.
  NameServerFailed,
  TimedOut,
  Unreachable,
  ClosedByStation,
  InUse,
  // A plain address for a station that speaks TLS.
  ExpectsTls,
  // A TLS address for a station that does not.
  NotTls,
  NotRfc2217,
  // The station's host took the connection, but the station says nothing (a hung server).
  NotAnswering,
  CertificateNotTrusted,
  ClientCertificateRequired,
  ClientCertificateRefused,
  ClientKeyUnusable,
  UnknownStation,
  StationChanged,
  // A line setting the station refused or did not confirm (Setting names it).
  SettingRefused,
  SettingUnconfirmed,
  RequestsUnanswered,
  // A certificate, key or authority file named in the address cannot be read.
  FileUnreadable,
  // The network layer's own failure (SystemReason says which).
  Other
};

// What the check of a station's certificate found wrong.
enum class TCertificateFinding : std::uint8_t { None, NotSigned, Expired, Revoked, OtherHost };

// A file that a TLS address names.
enum class TAddressFile : std::uint8_t { None, CertificateAuthority, ClientCertificate, Key };

// The facts of a network station's failure, for the program to word for the operator. Each may
// be left out where it does not apply, also in a designated initializer.
struct TStationReport {
  TStationFailure Failure = TStationFailure::None;
  // The address as it may be shown (without secrets).
  std::string Address{};
  std::string Host{};
  unsigned Port = 0;
  // The refused or unconfirmed setting: "speed", "data size", "parity", "stop size", "flow
  // control", and the refused value (none for the flow control).
  std::string Setting{};
  std::string Value{};
  // The network layer's, the system's or the station's own words.
  std::string SystemReason{};
  // The certificate fingerprint trusted before (StationChanged).
  std::string Pinned{};
  // The station's certificate ("CN=shack.local") and what its check found (CertificateNotTrusted).
  std::string Subject{};
  TCertificateFinding Finding = TCertificateFinding::None;
  // The file that cannot be read (FileUnreadable), and its path when the address plainly gives
  // one (a name that is not may be a password given as the file).
  TAddressFile File = TAddressFile::None;
  std::string Path{};
};

class ESerialPortException : public std::runtime_error {
 public:
  ESerialPortException(TSerialErrorKind kind, const std::string& message,
                       TStationCertificate certificate = {}, TStationReport station = {})
      : std::runtime_error(message),
        kind_(kind),
        certificate_(std::move(certificate)),
        station_(std::move(station)) {}
  TSerialErrorKind Kind() const { return kind_; }
  // Filled for UnknownStation and StationChanged.
  const TStationCertificate& Certificate() const { return certificate_; }
  // Filled when a network station failed.
  const TStationReport& Station() const { return station_; }

 private:
  TSerialErrorKind kind_;
  TStationCertificate certificate_;
  TStationReport station_;
};
