// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Network ports: the addresses an operator writes for a tuner behind a serial server, how they
// may be shown, and the station each one names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

enum class TNetworkKind { Rfc2217, Tcp, Rfc2217Tls };

// rfc2217://HOST:PORT, tcp://HOST:PORT, rfc2217+tls://HOST:PORT[?ca=FILE&cert=FILE&key=FILE];
// HOST may be an IPv6 literal in brackets.
class TNetworkAddress {
 public:
  // Empty with the reason when malformed. The reason never repeats user information or an
  // option's value (either could be a password), nor a control character.
  static std::optional<TNetworkAddress> Parse(std::string_view text, std::string& reason);
  // The address of a host as the operator types it ("shack.local", "::1", "[::1]").
  static std::optional<TNetworkAddress> FromHost(std::string_view host, unsigned port,
                                                 TNetworkKind kind, std::string& reason);
  // A station as HOST:PORT ("shack.local:3002", "[::1]:3002"), as pins and the command line
  // name it.
  static std::optional<TNetworkAddress> ParseStation(std::string_view text, std::string& reason);

  // Whether the port name is an address (by its scheme's name) rather than a device; a
  // malformed address is still one, to be refused with its reason when opened.
  static bool IsAddress(std::string_view portName);
  // The text as messages, the trace and the port list may repeat it, however malformed: without
  // user information, without option values that are not plainly file names, and with each
  // control character written as \xNN (it could rewrite a terminal or forge a line). Any other
  // port name comes back as it is.
  static std::string Masked(std::string_view text);
  // Masked without the options, which may name a key: scheme://HOST:PORT as far as the text has
  // one.
  static std::string MaskedWithoutOptions(std::string_view text);

  // The address written out, the scheme in lower case.
  std::string Text() const;
  // Text() as Masked shows it.
  std::string Shown() const;
  // HOST:PORT, the host in lower case and an IPv6 literal in brackets: the name a certificate
  // is pinned under. Addresses of one host on other ports are other stations.
  std::string Station() const;
  // The gensio stack that reaches the address.
  std::string Gensio() const;

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

// Whether a file name may be shown: it has a directory part or names something that exists.
bool PlainlyAPath(const std::string& name);
