// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The line settings of one station connection: the RFC 2217 requests sent, asked once more when
// gensio hands their answers elsewhere, and the station's verdict awaited within TLineRequests'
// bounds.
#pragma once

#include <array>
#include <condition_variable>
#include <functional>

#include "serial/SerialDevice.h"
#include "serial/ThreadSafety.h"
#include "station/LineRequests.h"

struct sergensio;

class TLineNegotiation {
 public:
  struct TOutcome {
    TLineRequests::TJudgement Judgement;
    // gensio refused to send a request.
    int SendError = 0;
    // Too many earlier requests stay unanswered: nothing was sent.
    bool TooMany = false;
    // `stopped` ended the wait before the verdict.
    bool Stopped = false;
    // The speed, data size, parity and stop size were answered.
    bool LineAnswered = false;
  };

  // `onAnswer` runs on the loop for each answer, told whether it is the station's word.
  TLineNegotiation(TLineRequests::TBounds bounds, std::function<void(bool)> onAnswer);

  // Sends `wanted` (in TLineRequests::TSetting order) and the modem lines to `serial`, and
  // waits for the verdict until `stopped` holds (Wake makes it look).
  TOutcome Apply(sergensio* serial, const std::array<unsigned, TLineRequests::SettingCount>& wanted,
                 TLineControl dtr, TLineControl rts, const std::function<bool()>& stopped)
      EXCLUDES(mutex_);
  void Wake() EXCLUDES(mutex_);
  // gensio has let go of every request.
  void Clear() EXCLUDES(mutex_);

 private:
  static void Replied(sergensio* serial, int error, unsigned value, void* data);
  void Answer(TLineRequests::TReply& reply, int error, unsigned value) EXCLUDES(mutex_);
  // Sends one line-setting request; no lock held (gensio's loop holds gensio's locks while it
  // calls in here and takes this object's).
  static int RequestSetting(sergensio* serial, TLineRequests::TSetting setting, unsigned value,
                            TLineRequests::TReply& reply);

  const std::function<void(bool)> onAnswer_;
  TMutex mutex_;
  // Notified by each answer and by Wake.
  std::condition_variable changed_;
  TLineRequests requests_ GUARDED_BY(mutex_);
  bool modemMaskAsked_ GUARDED_BY(mutex_) = false;
};
