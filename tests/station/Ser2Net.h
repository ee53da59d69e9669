// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A serial server for the tests: ser2net on 127.0.0.1 in front of a pseudo-terminal, with a
// configuration written at test time, and a throwaway certificate authority for its TLS.
#pragma once

#include <sys/types.h>

#include <string>

// A TCP port on 127.0.0.1 that nothing listens on right now.
unsigned FreeLocalPort();
// Whether something takes connections at host:port (an IPv4 address) right now.
bool Listening(const std::string& host, unsigned port);

// Where a station listens: 127.0.0.1, or an address inside a network namespace.
struct TStationPlace {
  std::string Host = "127.0.0.1";
  std::string Namespace;
};

class TSer2Net {
 public:
  // `device` is the station's serial device; `tlsOptions` holds ssl(...) options for a TLS
  // accepter, `authDirectory` the client certificates that it accepts (per user name).
  TSer2Net(std::string device, std::string tlsOptions = {}, const std::string& authDirectory = {},
           TStationPlace place = {});
  // ser2net on a configuration written elsewhere, whose connection listens on 127.0.0.1:port.
  TSer2Net(const std::string& configFile, unsigned port);
  ~TSer2Net();
  TSer2Net(const TSer2Net&) = delete;
  TSer2Net& operator=(const TSer2Net&) = delete;

  // Starts it and waits until it listens; throws when it does not within a few seconds.
  void Start();
  void Stop();
  // SIGSTOP / SIGCONT: a hung station whose kernel still answers TCP.
  void Freeze();
  void Thaw();
  unsigned Port() const { return port_; }
  std::string Address(const std::string& scheme = "rfc2217") const;

 private:
  const std::string device_;
  const std::string tlsOptions_;
  const TStationPlace place_;
  const unsigned port_;
  std::string directory_;
  std::string config_;
  pid_t pid_ = -1;
};

// A certificate authority, a station certificate for 127.0.0.1 and one for other.example
// signed by it, a second
// authority that signed nothing here, a self-signed client certificate for the user "operator"
// and ser2net's directory of the client certificates it allows (auth/).
class TTestCertificates {
 public:
  TTestCertificates();
  ~TTestCertificates();
  TTestCertificates(const TTestCertificates&) = delete;
  TTestCertificates& operator=(const TTestCertificates&) = delete;

  std::string File(const std::string& name) const { return directory_ + "/" + name; }
  // ser2net's TLS options for a station that shows the certificate `name` (ca: one of its own
  // making, which no authority vouches for).
  std::string StationOptions(const std::string& name) const {
    return "key=" + File(name + ".key") + ",cert=" + File(name + ".pem");
  }

 private:
  std::string directory_;
};
