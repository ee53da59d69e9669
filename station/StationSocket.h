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

  // This process's TCP socket from the local port to the remote one; -1 when there is none.
  static int Find(unsigned localPort, unsigned remotePort);
  // Whether the connection on `fd` is up and has received nothing yet.
  static bool UpAndSilent(int fd);

  // Keeps a duplicate of `fd` (whose number may name something else once gensio closes its
  // own) and gives it keepalive probes and a user time-out of seconds; false when it cannot.
  bool Adopt(int fd);
  bool Held() const { return fd_ >= 0; }
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
