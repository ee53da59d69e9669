// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Parsing, showing and writing out network port addresses, and turning them into gensio stacks.
#include "station/NetworkAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <charconv>

#include "text/AsciiText.h"

namespace {

struct TScheme {
  std::string_view prefix;
  TNetworkKind kind;
};

// The longer prefix first: "rfc2217+tls://" must not be taken for "rfc2217://".
constexpr std::array<TScheme, 3> Schemes = {{{"rfc2217+tls://", TNetworkKind::Rfc2217Tls},
                                             {"rfc2217://", TNetworkKind::Rfc2217},
                                             {"tcp://", TNetworkKind::Tcp}}};

constexpr std::string_view kHidden = "***";
// The longest name the DNS carries.
constexpr std::size_t kLongestHostName = 253;

bool HostNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
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

// Calls `each` with every option of the query (the text after '?') and its offset in it.
template <typename F>
void ForEachOption(std::string_view query, F each) {
  for (std::size_t start = 0; start <= query.size();) {
    const std::size_t end = std::min(query.find('&', start), query.size());
    each(query.substr(start, end - start), start);
    start = end + 1;
  }
}

// An option whose value is plainly a file name may hold an @ of its own (/home/op@shack/ca.pem).
bool PlainFileOption(std::string_view option) {
  const std::size_t equals = option.find('=');
  return equals != std::string_view::npos && PlainlyAPath(std::string(option.substr(equals + 1)));
}

// Where user information ends in what follows the scheme (just past its last @), or 0. A
// password may hold ? or &, so an @ past them still ends user information unless it stands in
// a file name.
std::size_t UserInformationEnd(std::string_view rest) {
  const std::size_t mark = std::min(rest.find('?'), rest.size());
  std::size_t end = 0;
  if (const std::size_t at = rest.substr(0, mark).rfind('@'); at != std::string_view::npos)
    end = at + 1;
  if (mark == rest.size()) return end;
  ForEachOption(rest.substr(mark + 1), [&](std::string_view option, std::size_t offset) {
    const std::size_t at = option.rfind('@');
    if (at != std::string_view::npos && !PlainFileOption(option)) end = mark + 1 + offset + at + 1;
  });
  return end;
}

// The text up to and with the scheme's separator ("rfc2217://", or "rfc2217:" written wrong).
std::size_t SchemeEnd(std::string_view text) {
  const std::size_t separator = text.find("://");
  return separator == std::string_view::npos ? text.find(':') + 1 : separator + 3;
}

bool ParseHost(std::string_view host, bool ipv6, TNetworkAddress& address, std::string& reason) {
  if (host.size() > kLongestHostName)
    return Fail(reason,
                "A host name is at most " + std::to_string(kLongestHostName) + " characters long");
  address.Host = host;
  address.Ipv6Literal = ipv6;
  if (!ipv6) {
    return (!host.empty() && std::all_of(host.begin(), host.end(), HostNameChar)) ||
           Fail(reason, "Invalid host name " + EscapeControls(host));
  }
  in6_addr binary{};
  if (::inet_pton(AF_INET6, address.Host.c_str(), &binary) != 1)
    return Fail(reason, "Invalid IPv6 address " + EscapeControls(host));
  // The connection is made for IPv6 alone, where such an address reaches nothing.
  if (IN6_IS_ADDR_V4MAPPED(&binary)) {
    char ipv4[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &binary.s6_addr[12], ipv4, sizeof ipv4);
    return Fail(reason, "[" + address.Host + "] is an IPv4 address in IPv6 form: write " + ipv4);
  }
  return true;
}

bool ParsePort(std::string_view text, TNetworkAddress& address, std::string& reason) {
  unsigned port = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || port == 0 ||
      port > 65535)
    return Fail(reason, "Invalid port number " + EscapeControls(text));
  address.Port = port;
  return true;
}

// HOST:PORT or [IPV6]:PORT.
bool ParseHostAndPort(std::string_view text, TNetworkAddress& address, std::string& reason) {
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos || close == 1 || text.substr(close + 1, 1) != ":")
      return Fail(reason, "An IPv6 address goes in brackets, followed by a colon and the port");
    return ParseHost(text.substr(1, close - 1), true, address, reason) &&
           ParsePort(text.substr(close + 2), address, reason);
  }
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0)
    return Fail(reason, "The address needs a host and a port (HOST:PORT)");
  return ParseHost(text.substr(0, colon), false, address, reason) &&
         ParsePort(text.substr(colon + 1), address, reason);
}

bool ParseOptions(std::string_view query, TNetworkAddress& address, std::string& reason) {
  bool sound = true;
  ForEachOption(query, [&](std::string_view option, std::size_t) {
    if (!sound) return;
    const std::size_t equals = option.find('=');
    if (equals == std::string_view::npos) {
      sound = Fail(reason, "Option without a value in the address");
      return;
    }
    const std::string key(option.substr(0, equals));
    const std::string_view value = option.substr(equals + 1);
    std::string* field = key == "ca"     ? &address.CaFile
                         : key == "cert" ? &address.CertFile
                         : key == "key"  ? &address.KeyFile
                                         : nullptr;
    if (!field) {
      sound = Fail(reason, "Unknown option " + EscapeControls(key) + " in the address");
    } else if (!field->empty()) {
      sound = Fail(reason, "Option " + key + " given twice");
    } else if (!FileNameAllowed(value)) {
      sound = Fail(reason, "Unusable file name for " + key + " in the address");
    } else {
      *field = value;
    }
  });
  if (sound && !address.CertFile.empty() && address.KeyFile.empty())
    return Fail(reason, "A client certificate needs its key (key=FILE)");
  return sound;
}

}  // namespace

bool PlainlyAPath(const std::string& name) {
  struct stat status {};
  return name.find('/') != std::string::npos || ::stat(name.c_str(), &status) == 0;
}

bool TNetworkAddress::IsAddress(std::string_view portName) {
  // The scheme's name and its colon: "rfc2217:/host:1" is a network address written wrong, not
  // a device name.
  return std::any_of(Schemes.begin(), Schemes.end(), [&](const TScheme& scheme) {
    return StartsWithAsciiNoCase(portName, scheme.prefix.substr(0, scheme.prefix.find(':') + 1));
  });
}

std::string TNetworkAddress::Masked(std::string_view text) {
  if (!IsAddress(text)) return std::string(text);
  const std::size_t start = SchemeEnd(text);
  std::string_view rest = text.substr(start);
  rest.remove_prefix(UserInformationEnd(rest));
  const std::size_t mark = std::min(rest.find('?'), rest.size());
  std::string shown = std::string(text.substr(0, start)) + std::string(rest.substr(0, mark));
  if (mark == rest.size()) return EscapeControls(shown);
  // Option values that are not file names may be a password typed in the wrong place.
  ForEachOption(rest.substr(mark + 1), [&](std::string_view option, std::size_t offset) {
    const std::size_t equals = option.find('=');
    shown += offset == 0 ? "?" : "&";
    if (option.empty() || PlainFileOption(option)) {
      shown += option;
    } else {
      shown += equals == std::string_view::npos
                   ? std::string(kHidden)
                   : std::string(option.substr(0, equals + 1)) + std::string(kHidden);
    }
  });
  return EscapeControls(shown);
}

std::string TNetworkAddress::MaskedWithoutOptions(std::string_view text) {
  std::string shown = Masked(text);
  // Past the scheme, user information is gone: the first ? begins the options.
  if (IsAddress(text)) shown.resize(std::min(shown.find('?'), shown.size()));
  return shown;
}

std::optional<TNetworkAddress> TNetworkAddress::Parse(std::string_view text, std::string& reason) {
  TNetworkAddress address;
  const auto scheme = std::find_if(Schemes.begin(), Schemes.end(), [&](const TScheme& s) {
    return StartsWithAsciiNoCase(text, s.prefix);
  });
  if (scheme == Schemes.end()) {
    reason = IsAddress(text) ? "The address needs a host and a port (HOST:PORT)"
                             : "Not a network address (rfc2217://, rfc2217+tls:// or tcp://)";
    return std::nullopt;
  }
  address.Kind = scheme->kind;
  std::string_view rest = text.substr(scheme->prefix.size());
  // Whatever stands before an @ is a user name and perhaps a password: not repeated anywhere,
  // so looked for before any part of the text is quoted in a reason.
  if (UserInformationEnd(rest) != 0) {
    reason = "An address carries no user name or password";
    return std::nullopt;
  }
  std::string_view query;
  if (const std::size_t mark = rest.find('?'); mark != std::string_view::npos) {
    query = rest.substr(mark + 1);
    rest = rest.substr(0, mark);
    if (address.Kind != TNetworkKind::Rfc2217Tls) {
      reason = "Only rfc2217+tls:// addresses take options";
      return std::nullopt;
    }
  }
  if (!ParseHostAndPort(rest, address, reason)) return std::nullopt;
  if (!query.empty() && !ParseOptions(query, address, reason)) return std::nullopt;
  return address;
}

std::optional<TNetworkAddress> TNetworkAddress::FromHost(std::string_view host, unsigned port,
                                                         TNetworkKind kind, std::string& reason) {
  TNetworkAddress address;
  address.Kind = kind;
  const bool bracketed = host.starts_with('[') && host.ends_with(']') && host.size() > 2;
  if (bracketed) host = host.substr(1, host.size() - 2);
  if (!ParseHost(host, bracketed || host.find(':') != std::string_view::npos, address, reason) ||
      !ParsePort(std::to_string(port), address, reason))
    return std::nullopt;
  return address;
}

std::optional<TNetworkAddress> TNetworkAddress::ParseStation(std::string_view text,
                                                             std::string& reason) {
  TNetworkAddress address;
  if (!ParseHostAndPort(text, address, reason)) return std::nullopt;
  return address;
}

std::string TNetworkAddress::Text() const {
  const auto scheme = std::find_if(Schemes.begin(), Schemes.end(),
                                   [&](const TScheme& s) { return s.kind == Kind; });
  std::string text = std::string(scheme->prefix) + (Ipv6Literal ? "[" + Host + "]" : Host) + ":" +
                     std::to_string(Port);
  char separator = '?';
  auto add = [&](const char* name, const std::string& value) {
    if (value.empty()) return;
    text += separator + std::string(name) + "=" + value;
    separator = '&';
  };
  add("ca", CaFile);
  add("cert", CertFile);
  add("key", KeyFile);
  return text;
}

std::string TNetworkAddress::Shown() const {
  return Masked(Text());
}

std::string TNetworkAddress::Station() const {
  const std::string host = AsciiLowerCase(Host);
  return (Ipv6Literal ? "[" + host + "]" : host) + ":" + std::to_string(Port);
}

std::string TNetworkAddress::Gensio() const {
  // nodelay: a command line is a few bytes, and the operator waits for its answer.
  std::string tcp =
      "tcp(nodelay)," + std::string(Ipv6Literal ? "ipv6," : "") + Host + "," + std::to_string(Port);
  switch (Kind) {
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
      add("CA", CaFile);
      add("cert", CertFile);
      add("key", KeyFile);
      return "telnet(rfc2217),ssl" + (options.empty() ? "" : "(" + options + ")") + "," + tcp;
    }
  }
  return tcp;
}
