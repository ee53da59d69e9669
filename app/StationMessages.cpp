// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The operator's words for network stations: why one could not be reached or was lost, and the
// question before one is trusted.
#include "app/StationMessages.h"

#include "app/StationDirectory.h"
#include "station/StationPins.h"
#include "text/AsciiText.h"

namespace {

std::string TrustHint(const TStationCertificate& certificate) {
  return "trust it with\n  orvel --trust-station " + certificate.Station + " " +
         certificate.Fingerprint + "\nand connect again.";
}

// The operator's certificate, made where there is none yet, admitted by the station over ssh.
std::string AllowHint(const TStationReport& report) {
  return "allow yours with\n  orvel --operator-certificate | ssh " + EscapeControls(report.Host) +
         " sudo orvel-station allow -\nand connect again.";
}

const char* FileName(TAddressFile file) {
  switch (file) {
    case TAddressFile::CertificateAuthority:
      return "certificate authority";
    case TAddressFile::ClientCertificate:
      return "client certificate";
    default:
      return "key";
  }
}

// "CN=shack.local is not signed by the given authority", "issued for shack.local, not for
// 192.0.2.7": what is wrong says what to fix (the authority file or the address).
std::string Untrusted(const TStationReport& report) {
  const std::string text = "Certificate not trusted";
  const std::string& subject = report.Subject;
  switch (report.Finding) {
    case TCertificateFinding::OtherHost:
      return text + ": issued for " + subject.substr(subject.find('=') + 1) + ", not for " +
             report.Host;
    case TCertificateFinding::Expired:
      return text + ": " + subject + " has expired";
    case TCertificateFinding::Revoked:
      return text + ": " + subject + " has been revoked";
    case TCertificateFinding::NotSigned:
      return text + ": " + subject + " is not signed by the given authority";
    default:
      return text;
  }
}

// The reason after "Cannot connect to ADDRESS. ".
std::string Reason(const TStationReport& report, const TStationCertificate& certificate) {
  using enum TStationFailure;
  switch (report.Failure) {
    case Refused:
      return "Connection refused";
    case HostNotFound:
      return "Host not found";
    case NameServerFailed:
      return "Host not found (name server failure)";
    case TimedOut:
      return "Connection timed out";
    case Unreachable:
      return "Host unreachable";
    case ClosedByStation:
      return "Connection closed by the station";
    case InUse:
      // The station drops a connection whose far end has gone within a minute of hearing
      // nothing back (keepalive).
      return "Station in use by another client: if that was this computer before the network "
             "failed, the station lets it go within a minute";
    case ExpectsTls:
      return "This station expects TLS: use rfc2217+tls://";
    case NotTls:
      return "This station does not use TLS: use rfc2217://";
    case NotRfc2217:
      return "The station does not speak RFC 2217";
    case NotAnswering:
      return "The station took the connection but does not answer";
    case CertificateNotTrusted:
      return Untrusted(report);
    case ClientCertificateRequired:
      return "Client certificate required: have the station " + AllowHint(report);
    case ClientCertificateRefused:
      return "The station refused this client certificate: have it " + AllowHint(report);
    case ClientKeyUnusable:
      return "Client key unusable";
    case UnknownStation:
      return "The station " + certificate.Station +
             " is not known yet.\nStation certificate SHA-256 fingerprint:\n" +
             FingerprintLines(certificate.Fingerprint) +
             "\nIf orvel-station init printed the same fingerprint on the station, " +
             TrustHint(certificate);
    case StationChanged:
      return "The station " + certificate.Station +
             " shows another certificate than the one trusted.\nTrusted SHA-256 fingerprint:\n" +
             FingerprintLines(report.Pinned) + "\nShown SHA-256 fingerprint:\n" +
             FingerprintLines(certificate.Fingerprint) +
             "\nSomeone may be posing as the station on the way there, or the station was "
             "given a new certificate (orvel-station init ran afresh). Ask the station's keeper "
             "for its fingerprint; only if it is the one shown, " +
             TrustHint(certificate);
    case SettingRefused:
      return "The station refused the " + report.Setting +
             (report.Value.empty() ? "" : " " + report.Value);
    case SettingUnconfirmed:
      return "The station did not confirm the " + report.Setting;
    case RequestsUnanswered:
      return "The station leaves its requests unanswered";
    case FileUnreadable:
      return "Cannot read the " + std::string(FileName(report.File)) +
             (report.Path.empty() ? "" : " " + report.Path) + ": " + report.SystemReason;
    default:
      return report.SystemReason;
  }
}

}  // namespace

std::string CannotConnectText(const std::string& shown, const std::string& reason) {
  return "Cannot connect to " + shown + ". " + reason;
}

std::string FailureText(const ESerialPortException& failure) {
  const std::string reason = Reason(failure.Station(), failure.Certificate());
  if (failure.Station().Failure == TStationFailure::None || reason.empty()) return failure.what();
  return CannotConnectText(failure.Station().Address, reason);
}

ESerialPortException Worded(const ESerialPortException& failure) {
  return ESerialPortException(failure.Kind(), FailureText(failure), failure.Certificate(),
                              failure.Station());
}

std::string HungUpText(const std::string& station, const TStationReport& report) {
  return station + " hung up. " + Reason(report, {});
}

std::string TrustQuestionText(const TStationCertificate& certificate, const std::string& adding,
                              bool portOpen) {
  // The question says what Yes does, and Yes does exactly that.
  const std::string yes =
      adding.empty()
          ? "Yes trusts this station and opens the port: the tuner is asked to identify itself."
          : "Yes trusts this station and adds it to the port list as " + adding +
                (portOpen ? "; the open port stays open."
                          : ", then opens it: the tuner is asked to identify itself.");
  return "The station " + certificate.Station +
         " is not known yet.\n\nStation certificate SHA-256 fingerprint:\n" +
         FingerprintLines(certificate.Fingerprint) +
         "\n\nTrust it only if orvel-station init printed the same fingerprint on the "
         "station.\n\n" +
         yes;
}
