// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The kinds of failed station connections, from gensio's error and what was seen of the
// station.
#include "station/ConnectFailure.h"

#include <gensio/gensio.h>

#include "text/AsciiText.h"

bool TConnectFailure::SaysInUse(std::string_view words) {
  return ContainsAsciiNoCase(words, "in use");
}

std::string TConnectFailure::FirstLine(std::string_view words) {
  return std::string(words.substr(0, words.find_first_of("\r\n")));
}

void TConnectFailure::Classify(const TConnectFacts& facts, TStationReport& report) {
  using enum TStationFailure;
  const int error = facts.Error;
  report.SystemReason = gensio_err_to_str(error);
  auto untrusted = [&](int why) {
    report.Failure = CertificateNotTrusted;
    report.SystemReason = gensio_err_to_str(why);
    report.Subject = facts.Subject;
    if (facts.Subject.empty()) return;
    report.Finding = facts.WrongHost         ? TCertificateFinding::OtherHost
                     : why == GE_CERTEXPIRED ? TCertificateFinding::Expired
                     : why == GE_CERTREVOKED ? TCertificateFinding::Revoked
                                             : TCertificateFinding::NotSigned;
  };
  if (facts.CertificateError != 0) return untrusted(facts.CertificateError);
  if (SaysInUse(facts.FirstWords)) {
    report.Failure = InUse;
    report.SystemReason = FirstLine(facts.FirstWords);
    return;
  }
  switch (error) {
    case GE_CONNREFUSE:
      report.Failure = Refused;
      return;
    case GE_NOTFOUND:
    case GE_UNKNOWN_NAME_ERROR:
    case GE_NAME_ERROR:
    case GE_NAME_INVALID:
    case GE_NAME_NET_NOT_UP:
      report.Failure = HostNotFound;
      return;
    case GE_NAME_SERVER_FAILURE:
      report.Failure = NameServerFailed;
      return;
    case GE_TIMEDOUT:
      report.Failure = TimedOut;
      return;
    case GE_HOSTDOWN:
      report.Failure = Unreachable;
      return;
    case GE_REMCLOSE:
    case GE_COMMERR:
    // What a request finds on a connection that the station has just ended.
    case GE_NOTREADY:
      // With TLS 1.3 the station checks the client's certificate only after the handshake,
      // and then just hangs up: a client that offered none is told the likely reason.
      report.Failure = facts.HungUpOnNudge ? ExpectsTls
                       : !facts.Tls        ? ClosedByStation
                       : facts.OwnKey      ? ClientCertificateRefused
                                           : ClientCertificateRequired;
      return;
    case GE_NOTSUP:
      // Only a station that answered can have refused the COM-PORT option; a silent one
      // merely did not answer in time, which a later try may outlast.
      report.Failure = facts.HungUpOnNudge ? ExpectsTls : facts.Silent ? NotAnswering : NotRfc2217;
      return;
    case GE_PROTOERR:
      // A Telnet station greets at once, and its first bytes are no TLS record; a TLS station
      // that showed its certificate and then broke off the handshake refused the client (TLS
      // 1.2 checks the client's certificate within the handshake).
      report.Failure = !facts.Tls                ? Other
                       : !facts.CertificateShown ? NotTls
                       : facts.OwnKey            ? ClientCertificateRefused
                                                 : ClientCertificateRequired;
      return;
    case GE_KEYINVALID:
    case GE_KEYNOTFOUND:
      report.Failure = ClientKeyUnusable;
      return;
    case GE_CERTNOTFOUND:
    case GE_CERTINVALID:
    case GE_CERTEXPIRED:
    case GE_CERTREVOKED:
      return untrusted(error);
    default:
      report.Failure = Other;
      return;
  }
}
