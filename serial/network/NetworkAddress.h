// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Network ports: the addresses an operator writes for a tuner behind a serial server, and the
// connection each one stands for.
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class TNetworkKind { Rfc2217, Tcp, Rfc2217Tls };

struct TNetworkAddress {
  TNetworkKind Kind = TNetworkKind::Rfc2217;
  // Without the brackets of an IPv6 literal.
  std::string Host;
  bool Ipv6Literal = false;
  unsigned Port = 0;
  // TLS only: the certificate authority (empty: the system's store), the client certificate
  // and its key.
  std::string CaFile;
  std::string CertFile;
  std::string KeyFile;
};

// Whether the text names a network port (by its scheme's name) rather than a device.
bool IsNetworkAddress(std::string_view text);

// The address as it may be shown to the operator: without user information, and with option
// values that are not plainly file names left out (they could be a password).
std::string ShownAddress(std::string_view text);
// Whether a file name may be shown: it has a directory part or names something that exists.
bool PlainlyAPath(const std::string& name);

// rfc2217://HOST:PORT, tcp://HOST:PORT, rfc2217+tls://HOST:PORT[?ca=FILE&cert=FILE&key=FILE];
// HOST may be an IPv6 literal in brackets. Empty with the reason when malformed.
std::optional<TNetworkAddress> ParseNetworkAddress(std::string_view text, std::string& reason);

// The gensio stack that reaches the address.
std::string GensioString(const TNetworkAddress& address);
