// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The operator's words for failed stations, word for word from the failure's kind and facts.
#include <gtest/gtest.h>

#include "StationMessages.h"

namespace {

TEST(StationMessagesTest, FailuresAreWordedFromTheirKindAndFacts) {
  const std::string address = "rfc2217+tls://shack.local:3002";
  const TStationCertificate certificate{"shack.local:3002", "AB:CD"};
  struct TCase {
    TSerialErrorKind kind;
    TStationFailure failure;
    std::string text;
  };
  const TCase cases[] = {
      {TSerialErrorKind::Other, TStationFailure::InUse,
       "Cannot connect to " + address +
           ". Station in use by another client: if that was this computer before the network "
           "failed, the station lets it go within a minute"},
      {TSerialErrorKind::Other, TStationFailure::ExpectsTls,
       "Cannot connect to " + address + ". This station expects TLS: use rfc2217+tls://"},
      {TSerialErrorKind::Other, TStationFailure::NotTls,
       "Cannot connect to " + address + ". This station does not use TLS: use rfc2217://"},
      {TSerialErrorKind::UnknownStation, TStationFailure::UnknownStation,
       "Cannot connect to " + address +
           ". The station shack.local:3002 is not known yet.\nStation certificate SHA-256 "
           "fingerprint: AB:CD\nIf orvel-station init printed the same fingerprint on the "
           "station, trust it with\n  orvel --trust-station shack.local:3002 AB:CD\nand "
           "connect again."},
      {TSerialErrorKind::StationChanged, TStationFailure::StationChanged,
       "Cannot connect to " + address +
           ". The station shack.local:3002 shows another certificate than the one trusted.\n"
           "Trusted SHA-256 fingerprint: 01:23\nShown SHA-256 fingerprint:   AB:CD\nSomeone may "
           "be posing as the station on the way there, or the station was given a new "
           "certificate (orvel-station init ran afresh). Ask the station's keeper for its "
           "fingerprint; only if it is the one shown, trust it with\n  orvel --trust-station "
           "shack.local:3002 AB:CD\nand connect again."},
      // The port's own words where nothing is to be added, a local port's above all.
      {TSerialErrorKind::Other, TStationFailure::Refused, "the port's words"},
      {TSerialErrorKind::NotFound, TStationFailure::None, "the port's words"},
  };
  for (const auto& [kind, failure, text] : cases) {
    TStationReport report;
    report.Failure = failure;
    report.Address = address;
    report.Pinned = "01:23";
    const ESerialPortException error(kind, "the port's words", certificate, report);
    EXPECT_EQ(FailureText(error), text);
    // Where only the message is shown, it carries the same words; the kind stays.
    EXPECT_EQ(Worded(error).what(), text);
    EXPECT_EQ(Worded(error).Kind(), kind);
  }
}

}  // namespace
