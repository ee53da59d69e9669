// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Parsing network port addresses and turning them into gensio stacks.
#include "NetworkAddress.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <charconv>

namespace {

struct TScheme {
  std::string_view prefix;
  TNetworkKind kind;
};

// The longer prefix first: "rfc2217+tls://" must not be taken for "rfc2217://".
constexpr std::array<TScheme, 3> Schemes = {{{"rfc2217+tls://", TNetworkKind::Rfc2217Tls},
                                             {"rfc2217://", TNetworkKind::Rfc2217},
                                             {"tcp://", TNetworkKind::Tcp}}};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
    return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
  });
}

bool HostNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool Ipv6Char(char c) {
  return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
         c == '.';
}

// gensio reads commas, parentheses, quotes and backslashes in its option strings; a file name
// holding one could smuggle in options of its own.
bool FileNameAllowed(std::string_view name) {
  return !name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 32 || c == ',' || c == '(' || c == ')' || c == '"' ||
           c == '\\' || c == '&' || c == '=';
  });
}

bool Fail(std::string& reason, std::string text) {
  reason = std::move(text);
  return false;
}

bool ParseQuery(std::string_view query, TNetworkAddress& address, std::string& reason) {
  while (!query.empty()) {
    const std::size_t end = std::min(query.find('&'), query.size());
    const std::string_view pair = query.substr(0, end);
    query.remove_prefix(std::min(end + 1, query.size()));
    const std::size_t equals = pair.find('=');
    if (equals == std::string_view::npos)
      return Fail(reason, "Option without a value in the address");
    const std::string_view key = pair.substr(0, equals);
    const std::string_view value = pair.substr(equals + 1);
    std::string* field = key == "ca"     ? &address.CaFile
                         : key == "cert" ? &address.CertFile
                         : key == "key"  ? &address.KeyFile
                                         : nullptr;
    if (!field) return Fail(reason, "Unknown option " + std::string(key) + " in the address");
    if (!field->empty()) return Fail(reason, "Option " + std::string(key) + " given twice");
    if (!FileNameAllowed(value)) {
      return Fail(reason, "Unusable file name for " + std::string(key) + " in the address");
    }
    *field = value;
  }
  if (!address.CertFile.empty() && address.KeyFile.empty()) {
    return Fail(reason, "A client certificate needs its key (key=FILE)");
  }
  return true;
}

// The scheme's name and its colon: "rfc2217:/host:1" is a network address written wrong, not a
// device name.
bool StartsWithSchemeName(std::string_view text, const TScheme& scheme) {
  const std::string_view name = scheme.prefix.substr(0, scheme.prefix.find(':') + 1);
  return StartsWithNoCase(text, name);
}

}  // namespace

bool IsNetworkAddress(std::string_view text) {
  return std::any_of(Schemes.begin(), Schemes.end(),
                     [&](const TScheme& scheme) { return StartsWithSchemeName(text, scheme); });
}

bool PlainlyAPath(const std::string& name) {
  struct stat status {};
  return name.find('/') != std::string::npos || ::stat(name.c_str(), &status) == 0;
}

std::string ShownAddress(std::string_view text) {
  if (!IsNetworkAddress(text)) return std::string(text);
  const std::size_t separator = text.find("://");
  const std::size_t start =
      separator == std::string_view::npos ? text.find(':') + 1 : separator + 3;
  std::string_view authority = text.substr(start);
  std::string_view query;
  if (const std::size_t mark = authority.find('?'); mark != std::string_view::npos) {
    query = authority.substr(mark);
    authority = authority.substr(0, mark);
  }
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  std::string shown = std::string(text.substr(0, start)) + std::string(authority);
  // Option values that are not file names may be a password typed in the wrong place.
  while (!query.empty()) {
    const std::size_t end = std::min(query.find('&', 1), query.size());
    const std::string_view pair = query.substr(0, end);
    query.remove_prefix(end);
    const std::size_t equals = pair.find('=');
    const std::string value(pair.substr(std::min(equals + 1, pair.size())));
    shown += equals == std::string_view::npos || PlainlyAPath(value)
                 ? std::string(pair)
                 : std::string(pair.substr(0, equals + 1)) + "***";
  }
  return shown;
}

std::optional<TNetworkAddress> ParseNetworkAddress(std::string_view text, std::string& reason) {
  TNetworkAddress address;
  const auto scheme = std::find_if(Schemes.begin(), Schemes.end(), [&](const TScheme& s) {
    return StartsWithNoCase(text, s.prefix);
  });
  if (scheme == Schemes.end()) {
    reason = IsNetworkAddress(text)
                 ? "The address needs a host and a port (HOST:PORT)"
                 : "Not a network address (rfc2217://, rfc2217+tls:// or tcp://)";
    return std::nullopt;
  }
  address.Kind = scheme->kind;
  std::string_view rest = text.substr(scheme->prefix.size());
  std::string_view query;
  if (const std::size_t mark = rest.find('?'); mark != std::string_view::npos) {
    query = rest.substr(mark + 1);
    rest = rest.substr(0, mark);
    if (address.Kind != TNetworkKind::Rfc2217Tls) {
      reason = "Only rfc2217+tls:// addresses take options";
      return std::nullopt;
    }
  }
  // Whatever stands before an @ is a user name and perhaps a password: not repeated anywhere.
  if (rest.find('@') != std::string_view::npos) {
    reason = "An address carries no user name or password";
    return std::nullopt;
  }
  std::string_view portText;
  if (rest.starts_with('[')) {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos || close == 1 || rest.substr(close + 1, 1) != ":") {
      reason = "An IPv6 address goes in brackets, followed by a colon and the port";
      return std::nullopt;
    }
    address.Host = rest.substr(1, close - 1);
    address.Ipv6Literal = true;
    portText = rest.substr(close + 2);
    if (!std::all_of(address.Host.begin(), address.Host.end(), Ipv6Char)) {
      reason = "Invalid IPv6 address " + address.Host;
      return std::nullopt;
    }
  } else {
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
      reason = "The address needs a host and a port (HOST:PORT)";
      return std::nullopt;
    }
    address.Host = rest.substr(0, colon);
    portText = rest.substr(colon + 1);
    if (!std::all_of(address.Host.begin(), address.Host.end(), HostNameChar)) {
      reason = "Invalid host name " + address.Host;
      return std::nullopt;
    }
  }
  unsigned port = 0;
  const auto [end, error] =
      std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (portText.empty() || error != std::errc() || end != portText.data() + portText.size() ||
      port == 0 || port > 65535) {
    reason = "Invalid port number " + std::string(portText);
    return std::nullopt;
  }
  address.Port = port;
  if (!ParseQuery(query, address, reason)) return std::nullopt;
  return address;
}

std::string GensioString(const TNetworkAddress& address) {
  // nodelay: a command line is a few bytes, and the operator waits for its answer.
  std::string tcp = "tcp(nodelay)," + std::string(address.Ipv6Literal ? "ipv6," : "") +
                    address.Host + "," + std::to_string(address.Port);
  switch (address.Kind) {
    case TNetworkKind::Tcp:
      return tcp;
    case TNetworkKind::Rfc2217:
      return "telnet(rfc2217)," + tcp;
    case TNetworkKind::Rfc2217Tls: {
      std::string options;
      auto add = [&](const char* name, const std::string& value) {
        if (value.empty()) return;
        options += (options.empty() ? "" : ",") + std::string(name) + "=" + value;
      };
      add("CA", address.CaFile);
      add("cert", address.CertFile);
      add("key", address.KeyFile);
      return "telnet(rfc2217),ssl" + (options.empty() ? "" : "(" + options + ")") + "," + tcp;
    }
  }
  return tcp;
}
