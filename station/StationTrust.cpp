// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The certificate checks that gensio leaves to the program: the host name, and the stations the
// operator pinned (trust on first use).
#include "station/StationTrust.h"

#include <gensio/gensio.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <string_view>

#include "station/OperatorIdentity.h"
#include "station/StationPins.h"

std::string TStationTrust::PeerCertificate(gensio* io) {
  std::string pem(16384, '\0');
  gensiods size = pem.size();
  if (gensio_control(io, GENSIO_CONTROL_DEPTH_FIRST, GENSIO_CONTROL_GET, GENSIO_CONTROL_CERT,
                     pem.data(), &size) != 0) {
    return {};
  }
  pem.resize(std::min<std::size_t>(size, pem.size()));
  return pem;
}

std::string TStationTrust::PeerSubject(gensio* io) {
  char subject[512] = "-1,CN";
  gensiods size = sizeof subject;
  if (gensio_control(io, GENSIO_CONTROL_DEPTH_FIRST, GENSIO_CONTROL_GET,
                     GENSIO_CONTROL_GET_PEER_CERT_NAME, subject, &size) != 0) {
    return {};
  }
  // "<index>,CN,<value>"
  std::string_view text(subject, std::min<std::size_t>(size, sizeof subject));
  text = text.substr(0, text.find('\0'));
  const std::size_t comma = text.find(",CN,");
  return comma == std::string_view::npos ? std::string()
                                         : "CN=" + std::string(text.substr(comma + 4));
}

bool TStationTrust::IssuedFor(const TNetworkAddress& address, const std::string& pem) {
  BIO* memory = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (!memory) return false;
  X509* certificate = PEM_read_bio_X509(memory, nullptr, nullptr, nullptr);
  BIO_free(memory);
  if (!certificate) return false;
  const std::string& host = address.Host;
  bool matches = X509_check_host(certificate, host.data(), host.size(), 0, nullptr) == 1;
  if (!matches) matches = X509_check_ip_asc(certificate, host.c_str(), 0) == 1;
  X509_free(certificate);
  return matches;
}

std::optional<int> TStationTrust::JudgeByPins(const TNetworkAddress& address,
                                              const std::string& pem, int chainError,
                                              TDeviceError& refusal) {
  if (!address.CaFile.empty()) return std::nullopt;
  const std::string station = address.Station();
  const std::string fingerprint = PemFingerprint(pem);
  if (fingerprint.empty()) return std::nullopt;
  const TPinCheck check = TStationPins().Check(station, fingerprint);
  if (check.Verdict == TPinVerdict::Trusted) return 0;
  // A station that a system authority vouches for needs no pin, as long as none was made.
  if (check.Verdict == TPinVerdict::Unknown && chainError == 0) return std::nullopt;
  refusal = TDeviceError{TSerialErrorKind::Other, check.Reason, {station, fingerprint}};
  refusal.Station.Pinned = check.Pinned;
  if (check.Verdict == TPinVerdict::Unknown) {
    refusal.Kind = TSerialErrorKind::UnknownStation;
    refusal.Message = "unknown certificate SHA-256 " + fingerprint;
  } else if (check.Verdict == TPinVerdict::Changed) {
    refusal.Kind = TSerialErrorKind::StationChanged;
    refusal.Message = "changed certificate SHA-256 " + fingerprint + ", trusted " + check.Pinned;
  }
  return GE_AUTHREJECT;
}
