// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The operator's reasons for a failed station connection, from gensio's error and what was
// seen of the station.
#include "ConnectFailure.h"

#include <gensio/gensio.h>

#include "AsciiText.h"

bool TConnectFailure::SaysInUse(std::string_view words) {
  return ContainsAsciiNoCase(words, "in use");
}

std::string TConnectFailure::Describe(const TConnectFacts& facts, TStationFailure& failure) {
  using enum TStationFailure;
  auto told = [&failure](TStationFailure kind, std::string text) {
    failure = kind;
    return text;
  };
  const std::string& subject = facts.Subject;
  const int error = facts.Error;
  // "CN=shack.local is not signed by the given authority", "issued for shack.local, not for
  // 192.0.2.7": what is wrong says what to fix (the authority file or the address).
  auto untrusted = [&](int why) {
    std::string text = told(CertificateNotTrusted, "Certificate not trusted");
    if (subject.empty()) return text;
    if (facts.WrongHost)
      return text + ": issued for " + subject.substr(3) + ", not for " + facts.Host;
    const char* what = why == GE_CERTEXPIRED   ? " has expired"
                       : why == GE_CERTREVOKED ? " has been revoked"
                                               : " is not signed by the given authority";
    return text + ": " + subject + what;
  };
  if (facts.CertificateError != 0) return untrusted(facts.CertificateError);
  if (SaysInUse(facts.FirstWords)) return told(InUse, InUseReason);
  if (ContainsAsciiNoCase(facts.Log, "certificate required") ||
      ContainsAsciiNoCase(facts.Log, "peer did not return")) {
    return told(ClientCertificateRequired, "Client certificate required");
  }
  switch (error) {
    case GE_CONNREFUSE:
      return told(Refused, "Connection refused");
    case GE_NOTFOUND:
    case GE_UNKNOWN_NAME_ERROR:
    case GE_NAME_ERROR:
    case GE_NAME_INVALID:
    case GE_NAME_NET_NOT_UP:
      return told(HostNotFound, "Host not found");
    case GE_NAME_SERVER_FAILURE:
      return told(HostNotFound, "Host not found (name server failure)");
    case GE_TIMEDOUT:
      return told(TimedOut, "Connection timed out");
    case GE_HOSTDOWN:
      return told(Unreachable, "Host unreachable");
    case GE_REMCLOSE:
    case GE_COMMERR:
      if (facts.HungUpOnNudge) return told(ExpectsTls, "The station expects TLS");
      // With TLS 1.3 the station checks the client's certificate only after the handshake,
      // and then just hangs up: a client that offered none is told the likely reason.
      if (facts.Tls) {
        return !facts.OwnKey
                   ? told(ClientCertificateRequired, "Client certificate required")
                   : told(ClientCertificateRefused, "The station refused this client certificate");
      }
      return told(ClosedByStation, "Connection closed by the station");
    case GE_NOTSUP:
      return facts.HungUpOnNudge ? told(ExpectsTls, "The station expects TLS")
                                 : told(NotRfc2217, "The station does not speak RFC 2217");
    case GE_PROTOERR:
      // A Telnet station greets at once, and its first bytes are no TLS record.
      if (facts.Tls) {
        return told(NotTls, "The station does not use TLS");
      }
      return told(Other, gensio_err_to_str(error));
    case GE_KEYINVALID:
    case GE_KEYNOTFOUND:
      return told(ClientKeyUnusable, "Client key unusable");
    case GE_CERTNOTFOUND:
    case GE_CERTINVALID:
    case GE_CERTEXPIRED:
    case GE_CERTREVOKED:
      return untrusted(error);
    default:
      return told(Other, gensio_err_to_str(error));
  }
}
