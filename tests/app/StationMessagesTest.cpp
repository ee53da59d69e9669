// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The operator's words for failed stations, word for word from the failure's kind and facts.
#include <gtest/gtest.h>

#include "app/StationMessages.h"

namespace {

TEST(StationMessagesTest, FailuresAreWordedFromTheirKindAndFacts) {
  const std::string address = "rfc2217+tls://shack.local:3002";
  const TStationCertificate certificate{"shack.local:3002", "AB:CD"};
  using enum TStationFailure;
  auto connect = [&](const std::string& reason) {
    return "Cannot connect to " + address + ". " + reason;
  };
  struct TCase {
    TSerialErrorKind kind;
    TStationReport report;
    std::string text;
  };
  const TCase cases[] = {
      {TSerialErrorKind::Other,
       {.Failure = InUse},
       connect("Station in use by another client: if that was this computer before the network "
               "failed, the station lets it go within a minute")},
      {TSerialErrorKind::Other,
       {.Failure = ExpectsTls},
       connect("This station expects TLS: use rfc2217+tls://")},
      {TSerialErrorKind::Other,
       {.Failure = NotTls},
       connect("This station does not use TLS: use rfc2217://")},
      {TSerialErrorKind::UnknownStation,
       {.Failure = UnknownStation},
       connect("The station shack.local:3002 is not known yet.\nStation certificate SHA-256 "
               "fingerprint:\n  AB:CD\nIf orvel-station init printed the same fingerprint on the "
               "station, trust it with\n  orvel --trust-station shack.local:3002 AB:CD\nand "
               "connect again.")},
      {TSerialErrorKind::StationChanged,
       {.Failure = StationChanged, .Pinned = "01:23"},
       connect(
           "The station shack.local:3002 shows another certificate than the one trusted.\n"
           "Trusted SHA-256 fingerprint:\n  01:23\nShown SHA-256 fingerprint:\n  AB:CD\nSomeone "
           "may be posing as the station on the way there, or the station was given a new "
           "certificate (orvel-station init ran afresh). Ask the station's keeper for its "
           "fingerprint; only if it is the one shown, trust it with\n  orvel --trust-station "
           "shack.local:3002 AB:CD\nand connect again.")},
      {TSerialErrorKind::Other,
       {.Failure = ClientCertificateRefused, .Host = "2001:db8::7\x1b"},
       connect("The station refused this client certificate: have it allow yours with\n  orvel "
               "--operator-certificate | ssh 2001:db8::7\\x1B sudo orvel-station allow -\nand "
               "connect again.")},
      {TSerialErrorKind::Other, {.Failure = Refused}, connect("Connection refused")},
      {TSerialErrorKind::Other,
       {.Failure = NotAnswering},
       connect("The station took the connection but does not answer")},
      // What is wrong with the certificate says what to fix: the authority file or the address.
      {TSerialErrorKind::Other,
       {.Failure = CertificateNotTrusted,
        .Subject = "CN=shack.local",
        .Finding = TCertificateFinding::NotSigned},
       connect("Certificate not trusted: CN=shack.local is not signed by the given authority")},
      {TSerialErrorKind::Other,
       {.Failure = CertificateNotTrusted,
        .Host = "192.0.2.7",
        .Subject = "CN=other.example",
        .Finding = TCertificateFinding::OtherHost},
       connect("Certificate not trusted: issued for other.example, not for 192.0.2.7")},
      {TSerialErrorKind::RefusedSetting,
       {.Failure = SettingRefused, .Setting = "speed", .Value = "9600"},
       connect("The station refused the speed 9600")},
      {TSerialErrorKind::RefusedSetting,
       {.Failure = SettingUnconfirmed, .Setting = "parity"},
       connect("The station did not confirm the parity")},
      // A file named by what may be a password instead of a path is not repeated.
      {TSerialErrorKind::Other,
       {.Failure = FileUnreadable, .SystemReason = "No such file", .File = TAddressFile::Key},
       connect("Cannot read the key: No such file")},
      {TSerialErrorKind::Other,
       {.Failure = FileUnreadable,
        .SystemReason = "No such file",
        .File = TAddressFile::CertificateAuthority,
        .Path = "/etc/ca.pem"},
       connect("Cannot read the certificate authority /etc/ca.pem: No such file")},
      {TSerialErrorKind::Other,
       {.Failure = Other, .SystemReason = "the network's words"},
       connect("the network's words")},
      // A local port's failure in the port's own words.
      {TSerialErrorKind::NotFound, {.Failure = None}, "the port's words"},
  };
  for (const auto& [kind, facts, text] : cases) {
    TStationReport report = facts;
    report.Address = address;
    const ESerialPortException error(kind, "the port's words", certificate, report);
    EXPECT_EQ(FailureText(error), text);
    // Where only the message is shown, it carries the same words; the kind stays.
    EXPECT_EQ(Worded(error).what(), text);
    EXPECT_EQ(Worded(error).Kind(), kind);
  }
}

}  // namespace
