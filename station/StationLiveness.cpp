// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The liveness rule of a network station; the network device feeds it the connection's byte
// count and asks it what to do.
#include "station/StationLiveness.h"

#include <algorithm>
#include <utility>

void TStationLiveness::Start(TClock::time_point now, std::uint64_t received) {
  lastHeard_ = now;
  received_ = received;
  held_ = false;
  question_.reset();
  roundTrip_.reset();
  writes_.clear();
}

void TStationLiveness::Observe(TClock::time_point now, std::uint64_t received) {
  if (received <= received_) return;
  received_ = received;
  lastHeard_ = std::max(lastHeard_, now);
  if (question_ && received > question_->Received) {
    roundTrip_ = std::max(now, question_->At) - question_->At;
    question_.reset();
  }
  while (!writes_.empty() && received > writes_.front().Received) writes_.pop_front();
}

void TStationLiveness::Hold(TClock::time_point now, bool held) {
  if (held == held_) return;
  held_ = held;
  // The question's answer waits behind the data that nobody reads.
  question_.reset();
  lastHeard_ = std::max(lastHeard_, now);
}

void TStationLiveness::Asked(TClock::time_point at, std::uint64_t received) {
  if (!question_) question_ = TQuestion{at, received};
}

TStationLiveness::TStep TStationLiveness::Next(TClock::time_point now) const {
  if (held_) return TStep::Wait;
  if (question_) return now >= question_->At + bounds_.Answer ? TStep::Lost : TStep::Wait;
  return now >= lastHeard_ + bounds_.Quiet ? TStep::Ask : TStep::Wait;
}

TStationLiveness::TClock::time_point TStationLiveness::Due() const {
  if (held_) return TClock::time_point::max();
  return question_ ? question_->At + bounds_.Answer : lastHeard_ + bounds_.Quiet;
}

TStationLiveness::TWriteStep TStationLiveness::WriteStep(TClock::time_point writeAt,
                                                         TClock::time_point now) const {
  // Held reading is our doing: the station counts as heard.
  if (held_ || writeAt - lastHeard_ < bounds_.WriteAsk) return TWriteStep::Send;
  if (!question_) return TWriteStep::Ask;
  return now >= WriteDue(writeAt) ? TWriteStep::Lost : TWriteStep::Wait;
}

void TStationLiveness::Wrote(std::string text, std::chrono::system_clock::time_point wall,
                             std::uint64_t received) {
  if (writes_.size() >= WriteLimit) writes_.pop_front();
  writes_.push_back(TWrite{TUnconfirmedWrite{std::move(text), wall}, received});
}

std::vector<TUnconfirmedWrite> TStationLiveness::Unconfirmed() const {
  std::vector<TUnconfirmedWrite> list;
  for (const TWrite& write : writes_) list.push_back(write.Write);
  return list;
}
