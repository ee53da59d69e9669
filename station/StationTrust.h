// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Whether a TLS station's certificate is the one to trust: issued for the host asked for, and,
// without an authority of the operator's own, the one the operator pinned.
#pragma once

#include <optional>
#include <string>

#include "serial/SerialDevice.h"
#include "station/NetworkAddress.h"

struct gensio;

class TStationTrust {
 public:
  // The certificate the station showed, in PEM; empty when there is none.
  static std::string PeerCertificate(gensio* io);
  // "CN=<name>" of the station's certificate; empty when it names none.
  static std::string PeerSubject(gensio* io);
  // Whether the certificate names the address's host: by a DNS name (or the common name when
  // there is none), or for an address literal by an IP entry or the common name holding it.
  static bool IssuedFor(const TNetworkAddress& address, const std::string& pem);
  // The pins' verdict for gensio when they decide (0: trusted; GE_AUTHREJECT with `refusal`
  // filled: unknown or changed), nothing when the chain's own check stands.
  static std::optional<int> JudgeByPins(const TNetworkAddress& address, const std::string& pem,
                                        int chainError, TDeviceError& refusal);
};
