// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The line-setting requests' bookkeeping and time-outs; the network device sends them and
// waits until Judge gives its verdict.
#include "station/LineRequests.h"

namespace {

constexpr std::size_t LineSettings = 4;

}  // namespace

bool TLineRequests::Begin(TClock::time_point now, const std::array<unsigned, SettingCount>& wanted,
                          void* context, std::array<TReply*, SettingCount>& replies) {
  // gensio is done with an answered request; the others it may still answer.
  replies_.remove_if([](const TReply& reply) { return reply.Done; });
  if (replies_.size() + SettingCount > ReplyLimit) return false;
  asked_ = {};
  ++round_;
  for (std::size_t i = 0; i < SettingCount; ++i) {
    replies[i] = Request(static_cast<TSetting>(i), context);
  }
  wanted_ = wanted;
  begun_ = now;
  lineAnswered_ = {};
  return true;
}

const TLineRequests::TReply* TLineRequests::Answered(std::size_t setting) const {
  // gensio gives up on a request that waits too long with an error: an answer to another one is
  // the station's word.
  const TReply* answered = nullptr;
  for (const TReply& reply : replies_) {
    if (reply.Done && static_cast<std::size_t>(reply.Setting) == setting &&
        (reply.Round == round_ || reply.Error == 0) &&
        (!answered || (answered->Error != 0 && reply.Error == 0))) {
      answered = &reply;
    }
  }
  return answered;
}

bool TLineRequests::LineAnswered() const {
  if (asked_[0] == 0) return false;
  for (std::size_t i = 0; i < LineSettings; ++i) {
    if (!Answered(i)) return false;
  }
  return true;
}

std::vector<TLineRequests::TSetting> TLineRequests::Swallowed() const {
  std::vector<TSetting> swallowed;
  bool laterAnswered = false;
  for (std::size_t i = SettingCount; i-- > 0;) {
    if (Answered(i)) {
      laterAnswered = true;
    } else if (laterAnswered && asked_[i] == 1) {
      swallowed.insert(swallowed.begin(), static_cast<TSetting>(i));
    }
  }
  if (replies_.size() + swallowed.size() > ReplyLimit) return {};
  return swallowed;
}

TLineRequests::TReply* TLineRequests::Request(TSetting setting, void* context) {
  ++asked_[static_cast<std::size_t>(setting)];
  return &replies_.emplace_back(TReply{context, setting, round_});
}

void TLineRequests::Answer(TReply& reply, TClock::time_point now, int error, unsigned value) {
  const bool before = LineAnswered();
  reply.Done = true;
  reply.Error = error;
  reply.Value = value;
  if (!before && LineAnswered()) lineAnswered_ = now;
}

TLineRequests::TJudgement TLineRequests::Judge(TClock::time_point now) const {
  if (asked_[0] == 0) return {TVerdict::Confirmed};
  const bool lineAnswered = LineAnswered();
  if (!lineAnswered && now < begun_ + bounds_.Settings) return {};
  for (std::size_t i = 0; i < LineSettings; ++i) {
    const TReply* reply = Answered(i);
    const auto setting = static_cast<TSetting>(i);
    if (!reply) return {TVerdict::Unconfirmed, setting};
    if (reply->Error != 0 || reply->Value != wanted_[i]) return {TVerdict::Refused, setting};
  }
  const TReply* flow = Answered(static_cast<std::size_t>(TSetting::Flow));
  if (!flow) {
    // Unanswered flow control is no failure: the station's device may have no such lines.
    return now < lineAnswered_ + bounds_.Control ? TJudgement{} : TJudgement{TVerdict::Confirmed};
  }
  if (flow->Error != 0 || flow->Value != Wanted(TSetting::Flow)) {
    return {TVerdict::Refused, TSetting::Flow};
  }
  return {TVerdict::Confirmed};
}

TLineRequests::TClock::time_point TLineRequests::Due() const {
  return LineAnswered() ? lineAnswered_ + bounds_.Control : begun_ + bounds_.Settings;
}

void TLineRequests::Clear() {
  replies_.clear();
  asked_ = {};
}
