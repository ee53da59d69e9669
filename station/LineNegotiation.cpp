// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The requests go out from the caller's thread; their answers arrive on the station loop.
#include "station/LineNegotiation.h"

#include <gensio/gensio.h>
#include <gensio/sergensio.h>

#include <utility>
#include <vector>

TLineNegotiation::TLineNegotiation(TLineRequests::TBounds bounds,
                                   std::function<void(bool)> onAnswer)
    : onAnswer_(std::move(onAnswer)), requests_(bounds) {}

void TLineNegotiation::Replied(sergensio*, int error, unsigned value, void* data) {
  auto& reply = *static_cast<TLineRequests::TReply*>(data);
  static_cast<TLineNegotiation*>(reply.Context)->Answer(reply, error, value);
}

void TLineNegotiation::Answer(TLineRequests::TReply& reply, int error, unsigned value) {
  {
    TMutexLock lock(mutex_);
    requests_.Answer(reply, TLineRequests::TClock::now(), error, value);
    changed_.notify_all();
  }
  // gensio gives up a request that was never answered with an error: not the station's word.
  onAnswer_(error == 0);
}

int TLineNegotiation::RequestSetting(sergensio* serial, TLineRequests::TSetting setting,
                                     unsigned value, TLineRequests::TReply& reply) {
  using enum TLineRequests::TSetting;
  switch (setting) {
    case Speed:
      return sergensio_baud(serial, value, &Replied, &reply);
    case DataSize:
      return sergensio_datasize(serial, value, &Replied, &reply);
    case Parity:
      return sergensio_parity(serial, value, &Replied, &reply);
    case StopSize:
      return sergensio_stopbits(serial, value, &Replied, &reply);
    default:
      return sergensio_flowcontrol(serial, value, &Replied, &reply);
  }
}

TLineNegotiation::TOutcome TLineNegotiation::Apply(
    sergensio* serial, const std::array<unsigned, TLineRequests::SettingCount>& wanted,
    TLineControl dtr, TLineControl rts, const std::function<bool()>& stopped) {
  using TSetting = TLineRequests::TSetting;
  using TClock = TLineRequests::TClock;
  TOutcome outcome;
  std::array<TLineRequests::TReply*, TLineRequests::SettingCount> replies{};
  {
    TMutexLock lock(mutex_);
    if (!requests_.Begin(TClock::now(), wanted, this, replies)) {
      outcome.TooMany = true;
      return outcome;
    }
  }
  int error = 0;
  for (std::size_t i = 0; i < TLineRequests::SettingCount && error == 0; ++i) {
    error = RequestSetting(serial, static_cast<TSetting>(i), wanted[i], *replies[i]);
  }
  if (error == 0 && dtr != TLineControl::Handshake) {
    error =
        sergensio_dtr(serial, dtr == TLineControl::Raised ? SERGENSIO_DTR_ON : SERGENSIO_DTR_OFF,
                      nullptr, nullptr);
  }
  if (error == 0 && rts != TLineControl::Handshake) {
    error =
        sergensio_rts(serial, rts == TLineControl::Raised ? SERGENSIO_RTS_ON : SERGENSIO_RTS_OFF,
                      nullptr, nullptr);
  }
  if (error != 0) {
    outcome.SendError = error;
    return outcome;
  }
  bool askMask = false;
  {
    TMutexLock lock(mutex_);
    for (;;) {
      outcome.Judgement = requests_.Judge(TClock::now());
      if (outcome.Judgement.Verdict != TLineRequests::TVerdict::Waiting) break;
      if (stopped()) {
        outcome.Stopped = true;
        break;
      }
      // gensio 2.6.2 workaround (answers handed to the wrong request): what it gave elsewhere
      // is asked once more.
      std::vector<std::pair<TSetting, TLineRequests::TReply*>> again;
      for (const TSetting setting : requests_.Swallowed()) {
        again.emplace_back(setting, requests_.Request(setting, this));
      }
      if (again.empty()) {
        lock.WaitUntil(changed_, requests_.Due());
        continue;
      }
      lock.Unlock();
      for (const auto& [setting, reply] : again) {
        RequestSetting(serial, setting, wanted[static_cast<std::size_t>(setting)], *reply);
      }
      lock.Lock();
    }
    outcome.LineAnswered = requests_.LineAnswered();
    if (outcome.Judgement.Verdict == TLineRequests::TVerdict::Confirmed) {
      askMask = !std::exchange(modemMaskAsked_, true);
    }
  }
  // Every change of the station's modem lines (NOTIFY-MODEMSTATE) is asked for only now: gensio
  // hands a station's answer to this request to whichever line-setting request waits first.
  if (askMask) sergensio_modemstate(serial, 0xff);
  return outcome;
}

void TLineNegotiation::Wake() {
  TMutexLock lock(mutex_);
  changed_.notify_all();
}

void TLineNegotiation::Clear() {
  TMutexLock lock(mutex_);
  requests_.Clear();
}
