// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The operator's words for network stations that failed.
#include "StationMessages.h"

namespace {

std::string TrustHint(const TStationCertificate& certificate) {
  return "trust it with\n  orvel --trust-station " + certificate.Station + " " +
         certificate.Fingerprint + "\nand connect again.";
}

// The reason after "Cannot connect to ADDRESS. "; empty where the port's own words serve.
std::string Reason(const TStationReport& report, const TStationCertificate& certificate) {
  switch (report.Failure) {
    case TStationFailure::InUse:
      // The station drops a connection whose far end has gone within a minute of hearing
      // nothing back (keepalive).
      return "Station in use by another client: if that was this computer before the network "
             "failed, the station lets it go within a minute";
    case TStationFailure::ExpectsTls:
      return "This station expects TLS: use rfc2217+tls://";
    case TStationFailure::NotTls:
      return "This station does not use TLS: use rfc2217://";
    case TStationFailure::UnknownStation:
      return "The station " + certificate.Station +
             " is not known yet.\nStation certificate SHA-256 fingerprint: " +
             certificate.Fingerprint +
             "\nIf orvel-station init printed the same fingerprint on the station, " +
             TrustHint(certificate);
    case TStationFailure::StationChanged:
      return "The station " + certificate.Station +
             " shows another certificate than the one trusted.\nTrusted SHA-256 fingerprint: " +
             report.Pinned + "\nShown SHA-256 fingerprint:   " + certificate.Fingerprint +
             "\nSomeone may be posing as the station on the way there, or the station was "
             "given a new certificate (orvel-station init ran afresh). Ask the station's keeper "
             "for its fingerprint; only if it is the one shown, " +
             TrustHint(certificate);
    default:
      return {};
  }
}

}  // namespace

std::string FailureText(const ESerialPortException& failure) {
  const std::string reason = Reason(failure.Station(), failure.Certificate());
  if (reason.empty()) return failure.what();
  return "Cannot connect to " + failure.Station().Address + ". " + reason;
}

ESerialPortException Worded(const ESerialPortException& failure) {
  return ESerialPortException(failure.Kind(), FailureText(failure), failure.Certificate(),
                              failure.Station());
}

std::string HungUpText(const std::string& station, const TStationReport& report) {
  return station + " hung up. " + Reason(report, {});
}
