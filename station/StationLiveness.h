// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Whether a network station is still there, judged by the bytes its connection receives: the
// rule alone, with every moment handed in, so that it needs neither a thread nor a clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "serial/SerialDevice.h"

class TStationLiveness {
 public:
  using TClock = std::chrono::steady_clock;

  struct TBounds {
    // A station that sent nothing for this long is asked whether it is still there...
    TClock::duration Quiet;
    // ...and is lost when nothing at all arrives within this of the question.
    TClock::duration Answer;
    // A write to a station not heard from for this long asks first...
    TClock::duration WriteAsk;
    // ...and goes nowhere when no answer comes within this of the write: what a hung station
    // took would be carried out whenever it resumes.
    TClock::duration WriteAnswer;
  };
  enum class TStep { Wait, Ask, Lost };
  // What a write asked for at one moment does at another.
  enum class TWriteStep { Send, Ask, Wait, Lost };

  explicit TStationLiveness(TBounds bounds) : bounds_(bounds) {}
  const TBounds& Bounds() const { return bounds_; }

  // The connection is up at `now`, having received `received` bytes so far.
  void Start(TClock::time_point now, std::uint64_t received);
  // The connection's count of received bytes as seen at `now`. Any growth is the station
  // speaking: whichever request gensio pairs an answer with, its bytes are counted here.
  void Observe(TClock::time_point now, std::uint64_t received);
  // Reading held back at a full inbox: the station cannot be heard, by our doing, so it counts
  // as heard while held and the quiet time starts afresh once reading resumes.
  void Hold(TClock::time_point now, bool held);
  // A question left at `at`, when the count stood at `received`: only bytes beyond that
  // answer it.
  void Asked(TClock::time_point at, std::uint64_t received);
  // What to do at `now`.
  TStep Next(TClock::time_point now) const;
  // The latest moment at which Next may change without news.
  TClock::time_point Due() const;
  bool Asking() const { return question_.has_value(); }
  // For a write asked for at `writeAt`, at `now`.
  TWriteStep WriteStep(TClock::time_point writeAt, TClock::time_point now) const;
  // The latest moment at which WriteStep may change without news.
  TClock::time_point WriteDue(TClock::time_point writeAt) const {
    return writeAt + bounds_.WriteAnswer;
  }
  // When the count last grew (the connection's start before that).
  TClock::time_point LastHeard() const { return lastHeard_; }
  // From the last answered question to the growth that answered it; none answered yet.
  std::optional<TClock::duration> LastRoundTrip() const { return roundTrip_; }

  // A write went out at `at` (the wall clock's `wall`) with the count at `received`; it stays
  // unconfirmed until bytes arrive after it.
  void Wrote(std::string text, std::chrono::system_clock::time_point wall, std::uint64_t received);
  std::vector<TUnconfirmedWrite> Unconfirmed() const;

 private:
  struct TQuestion {
    TClock::time_point At;
    std::uint64_t Received = 0;
  };
  struct TWrite {
    TUnconfirmedWrite Write;
    std::uint64_t Received = 0;
  };
  // Past this many the oldest unconfirmed writes are forgotten: a station that keeps silent
  // while a handler writes in a loop must not grow the list without end.
  static constexpr std::size_t WriteLimit = 256;

  const TBounds bounds_;
  TClock::time_point lastHeard_{};
  std::uint64_t received_ = 0;
  bool held_ = false;
  std::optional<TQuestion> question_;
  std::optional<TClock::duration> roundTrip_;
  std::deque<TWrite> writes_;
};
