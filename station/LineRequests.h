// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The RFC 2217 line-setting requests of one application and the station's answers, judged at a
// given moment: the rule alone, every moment handed in, so that it needs no clock of its own.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <list>
#include <vector>

class TLineRequests {
 public:
  using TClock = std::chrono::steady_clock;

  enum class TSetting : std::uint8_t { Speed, DataSize, Parity, StopSize, Flow };
  static constexpr std::size_t SettingCount = 5;
  enum class TVerdict : std::uint8_t { Waiting, Confirmed, Unconfirmed, Refused };
  struct TJudgement {
    TVerdict Verdict = TVerdict::Waiting;
    TSetting Setting = TSetting::Speed;
  };
  struct TBounds {
    // The speed, data size, parity and stop size have to be confirmed within this...
    TClock::duration Settings;
    // ...and the flow control, which a station in front of a pseudo-terminal never answers, is
    // waited for this much longer.
    TClock::duration Control;
  };
  // One request, which gensio holds until the station answers it (or it gives up on it).
  struct TReply {
    void* Context = nullptr;
    TSetting Setting = TSetting::Speed;
    // The application that made it.
    std::uint64_t Round = 0;
    bool Done = false;
    int Error = 0;
    unsigned Value = 0;
  };
  // Past this many unanswered requests the station is not asked again.
  static constexpr std::size_t ReplyLimit = 64;

  explicit TLineRequests(TBounds bounds) : bounds_(bounds) {}

  // A new application at `now` asking for `wanted` (in TSetting order): the replies to hand
  // gensio, each with `context`; false when too many earlier requests stay unanswered.
  bool Begin(TClock::time_point now, const std::array<unsigned, SettingCount>& wanted,
             void* context, std::array<TReply*, SettingCount>& replies);
  void Answer(TReply& reply, TClock::time_point now, int error, unsigned value);
  // gensio 2.6.2 workaround (answers handed to the wrong request), the rule; TLineNegotiation
  // asks again. The line settings to ask once more. The station answers in order, so a setting
  // still unanswered after a later one was answered had its answer handed to another request:
  // gensio does so while requests that the station never answers (the modem lines' in front of a
  // pseudo-terminal) wait. Each is asked again once.
  //
  // gensio hands an answer to the oldest waiting request of its kind, and a request waiting
  // from an earlier application will never get its own answer: an answer to any request for a
  // setting counts for this application's, but gensio giving up on an earlier one does not.
  std::vector<TSetting> Swallowed() const;
  // One more request for the setting in this application.
  TReply* Request(TSetting setting, void* context);
  // The first setting refused or left unconfirmed, in TSetting order, once the answers are in
  // or their time is up.
  TJudgement Judge(TClock::time_point now) const;
  // The latest moment at which Judge may change without an answer.
  TClock::time_point Due() const;
  // The speed, data size, parity and stop size are all answered.
  bool LineAnswered() const;
  unsigned Wanted(TSetting setting) const { return wanted_[static_cast<std::size_t>(setting)]; }
  // gensio has let go of every request.
  void Clear();

 private:
  // An answer for the setting in this application, if any.
  const TReply* Answered(std::size_t setting) const;

  const TBounds bounds_;
  // A list: gensio keeps a pointer to each reply until it answers. Answered ones are dropped
  // when an application begins.
  std::list<TReply> replies_;
  // How often each setting was asked in this application; none before the first.
  std::array<unsigned, SettingCount> asked_{};
  std::uint64_t round_ = 0;
  std::array<unsigned, SettingCount> wanted_{};
  TClock::time_point begun_{};
  TClock::time_point lineAnswered_{};
};
