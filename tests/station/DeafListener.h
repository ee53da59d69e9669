// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A listener on 127.0.0.1 that never accepts: a station that cannot be reached, or one that
// takes the connection and never says a word.
#pragma once

#include <vector>

class TDeafListener {
 public:
  // With its queue full the handshake of any further client goes unanswered, as with a host
  // that has gone off the network; with `fillQueue` false a client's connection is made and
  // then never hears a word, as from a station that hung.
  explicit TDeafListener(bool fillQueue = true);
  ~TDeafListener();
  TDeafListener(const TDeafListener&) = delete;
  TDeafListener& operator=(const TDeafListener&) = delete;

  unsigned Port() const { return port_; }
  // A client's connection waits in the queue.
  bool Called() const;
  // Hangs up on every client waiting in the queue.
  void Drain();

 private:
  int fd_;
  unsigned port_ = 0;
  std::vector<int> fillers_;
};
