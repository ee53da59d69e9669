// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The operator's own key and self-signed certificate, presented to stations that accept only
// the clients they know; made once and kept in the user's configuration folder. Certificates'
// names and fingerprints.
#pragma once

#include <optional>
#include <string>
#include <string_view>

class TNetworkAddress;

struct TOperatorIdentity {
  std::string CertFile;
  std::string KeyFile;
};

// The identity when both files are there; empty with an empty reason when there is none yet,
// and with the reason when it is there but may not be used (a link, a key that others can read).
std::optional<TOperatorIdentity> ExistingOperatorIdentity(std::string& reason);

// The identity, made first when there is none: a new key (mode 600) and a certificate whose
// common name is `commonName`, or the user's login name when that is empty.
std::optional<TOperatorIdentity> EnsureOperatorIdentity(const std::string& commonName,
                                                        std::string& reason);

// A TLS address that names no client certificate of its own gets the operator's identity when
// there is one. False with the reason when the identity is there but unsound.
bool UseOperatorIdentity(TNetworkAddress& address, std::string& reason);

// The certificate's common name, and its SHA-256 fingerprint as openssl prints it (AB:CD:...).
std::string CertificateCommonName(const std::string& certFile);
std::string CertificateFingerprint(const std::string& certFile);
// The SHA-256 fingerprint of the first certificate in the PEM text as openssl prints it
// (AB:CD:...); empty when there is none.
std::string PemFingerprint(std::string_view pem);
