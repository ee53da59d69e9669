// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The line-setting requests' bookkeeping and time-outs; the network device sends them and
// waits until Judge gives its verdict.
#include "LineRequests.h"

#include <algorithm>

namespace {

constexpr std::size_t LineSettings = 4;

}  // namespace

bool TLineRequests::Begin(TClock::time_point now, const std::array<unsigned, SettingCount>& wanted,
                          void* context, std::array<TReply*, SettingCount>& replies) {
  // gensio is done with an answered request; the others it may still answer.
  replies_.remove_if([](const TReply& reply) { return reply.Done; });
  if (replies_.size() + SettingCount > ReplyLimit) return false;
  for (TReply*& reply : current_) reply = &replies_.emplace_back(TReply{context});
  replies = current_;
  wanted_ = wanted;
  begun_ = now;
  lineAnswered_ = {};
  return true;
}

bool TLineRequests::LineAnswered() const {
  return current_[0] && std::all_of(current_.begin(), current_.begin() + LineSettings,
                                    [](const TReply* reply) { return reply->Done; });
}

void TLineRequests::Answer(TReply& reply, TClock::time_point now, int error, unsigned value) {
  const bool before = LineAnswered();
  reply.Done = true;
  reply.Error = error;
  reply.Value = value;
  if (!before && LineAnswered()) lineAnswered_ = now;
}

TLineRequests::TJudgement TLineRequests::Judge(TClock::time_point now) const {
  if (!current_[0]) return {TVerdict::Confirmed};
  const bool lineAnswered = LineAnswered();
  if (!lineAnswered && now < begun_ + bounds_.Settings) return {};
  for (std::size_t i = 0; i < LineSettings; ++i) {
    const TReply& reply = *current_[i];
    const auto setting = static_cast<TSetting>(i);
    if (!reply.Done) return {TVerdict::Unconfirmed, setting};
    if (reply.Error != 0 || reply.Value != wanted_[i]) return {TVerdict::Refused, setting};
  }
  const TReply& flow = *current_[static_cast<std::size_t>(TSetting::Flow)];
  if (!flow.Done) {
    // Unanswered flow control is no failure: the station's device may have no such lines.
    return now < lineAnswered_ + bounds_.Control ? TJudgement{} : TJudgement{TVerdict::Confirmed};
  }
  if (flow.Error != 0 || flow.Value != Wanted(TSetting::Flow)) {
    return {TVerdict::Refused, TSetting::Flow};
  }
  return {TVerdict::Confirmed};
}

TLineRequests::TClock::time_point TLineRequests::Due() const {
  return LineAnswered() ? lineAnswered_ + bounds_.Control : begun_ + bounds_.Settings;
}

void TLineRequests::Clear() {
  replies_.clear();
  current_ = {};
}
