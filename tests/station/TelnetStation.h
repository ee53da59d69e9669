// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A small RFC 2217 station on 127.0.0.1 written for the tests: one that answers every request
// the way the RFC says, including the ones ser2net leaves unanswered, and, when asked to
// misbehave, buries its client in random bytes.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class TTelnetStation {
 public:
  enum class TConduct {
    // Answers every COM-PORT-OPTION request, the modem and line state masks too.
    Strict,
    // Strict until the stop size is confirmed, then random bytes until the client goes.
    FloodWhenNegotiated,
    // The same, but as well-formed Telnet data (each 255 doubled): every byte is the port's.
    BurstWhenNegotiated,
    // Random bytes from the first moment: the negotiation never makes sense.
    GarbageAtOnce,
  };

  // A flooding station stops after `garbageLimit` bytes of a connection (and keeps it open).
  explicit TTelnetStation(TConduct conduct, std::uint64_t garbageLimit = UINT64_MAX);
  ~TTelnetStation();
  TTelnetStation(const TTelnetStation&) = delete;
  TTelnetStation& operator=(const TTelnetStation&) = delete;

  std::string Address() const;
  unsigned Port() const { return port_; }
  // Tells the connected client that the modem lines changed (NOTIFY-MODEMSTATE with `lines`).
  void NotifyModemState(std::uint8_t lines);
  // Connections that have ended, and bytes of garbage sent over all of them.
  int Served() const { return served_; }
  std::uint64_t GarbageSent() const { return garbageSent_; }

 private:
  void Serve();
  void Talk(int client);

  const TConduct conduct_;
  const std::uint64_t garbageLimit_;
  int listener_ = -1;
  int stopPipe_[2] = {-1, -1};
  int newsPipe_[2] = {-1, -1};
  unsigned port_ = 0;
  std::atomic<int> served_ = 0;
  std::atomic<std::uint64_t> garbageSent_ = 0;
  std::thread thread_;
};
