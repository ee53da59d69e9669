// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Our own descriptor of a station connection's TCP socket, which gensio does not hand out:
// keepalive timing, the kernel's count of received bytes, and a reset for a lost station.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

class TStationSocket {
 public:
  TStationSocket() = default;
  ~TStationSocket() { Close(); }
  TStationSocket(const TStationSocket&) = delete;
  TStationSocket& operator=(const TStationSocket&) = delete;

  // gensio 2.6.2 workaround (socket found through /proc/self/fd): it hands out no descriptor
  // of a TCP connection (GENSIO_CONTROL_IOD fails), so this process's socket from the local
  // port to the remote one is looked for; -1 when there is none.
  static int FindGensioSocket(unsigned localPort, unsigned remotePort);
  // gensio 2.6.2 workaround (Telnet no-operations): a Telnet station greets at once; a TLS
  // station waits for a greeting of TLS, and the client's first Telnet request is too short for
  // it to see that it is none. Two Telnet no-operations, which a Telnet station ignores, sent
  // behind gensio's back on a connection that is up and silent, make a TLS station hang up at
  // once. Whether they were sent.
  static bool SendTelnetNoOperations(int fd);

  // Keeps a duplicate of `fd` (whose number may name something else once gensio closes its
  // own) and gives it keepalive probes and a user time-out of seconds; false when it cannot.
  bool Adopt(int fd);
  bool Held() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  // The bytes the connection received so far, as the kernel counts them.
  std::optional<std::uint64_t> ReceivedBytes() const;
  // The connection's round trip as the kernel measures it (smoothed over its acknowledgements).
  std::optional<std::chrono::microseconds> RoundTrip() const;
  // Nothing more is read: a close then waits for no farewell of a station that hung.
  void ShutInput();
  // For a lost station: its close resets the connection, so that what the station has not
  // acknowledged never reaches it later, and waits for nothing.
  void ResetOnClose();
  void Close();

 private:
  int fd_ = -1;
};
