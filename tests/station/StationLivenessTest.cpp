// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The liveness rule of a network station, with the device's bounds, on a clock of the test's
// own: what the watch and a write do at each moment, and the last question's round trip.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

#include "station/NetworkSerialDevice.h"
#include "station/StationLiveness.h"

namespace {

using namespace std::chrono_literals;
using TStep = TStationLiveness::TStep;
using TWriteStep = TStationLiveness::TWriteStep;
using TClock = TStationLiveness::TClock;

const TClock::time_point Zero{};

// One thing that happens to the connection, at milliseconds from its start.
struct TEvent {
  enum TWhat { Observe, Ask, Hold, Release } What;
  int AtMs;
  std::uint64_t Received = 0;
};

TEST(StationLivenessTest, TheWatchAsksAQuietStationAndFindsAHungOne) {
  struct TCase {
    const char* name;
    std::vector<TEvent> events;
    int checkMs;
    TStep expected;
    // The last question's round trip; -1 when none was answered.
    int roundTripMs = -1;
    // A write asked for at this moment (none when negative) does `write` at checkMs.
    int writeAtMs = -1;
    TWriteStep write = TWriteStep::Send;
  };
  using enum TEvent::TWhat;
  const TCase cases[] = {
      {"quiet, not yet for the quiet bound", {}, 2999, TStep::Wait},
      {"quiet for the quiet bound: asked", {}, 3000, TStep::Ask},
      {"bytes reset the quiet time", {{Observe, 2000, 101}}, 4999, TStep::Wait},
      {"the same count again is no news", {{Observe, 2000, 100}}, 3000, TStep::Ask},
      {"no answer yet", {{Ask, 3000, 100}}, 5999, TStep::Wait},
      {"no answer within the answer bound: lost", {{Ask, 3000, 100}}, 6000, TStep::Lost},
      {"a byte after the question answers it",
       {{Ask, 3000, 100}, {Observe, 3010, 101}},
       6009,
       TStep::Wait,
       10},
      {"and the answered station is asked again when quiet",
       {{Ask, 3000, 100}, {Observe, 3010, 101}},
       6010,
       TStep::Ask,
       10},
      // Bytes that came before the question but were counted only after it are no answer.
      {"bytes from before the question",
       {{Ask, 3000, 150}, {Observe, 3010, 150}},
       6000,
       TStep::Lost},
      {"a second question keeps the first one's time",
       {{Ask, 3000, 100}, {Ask, 5000, 100}},
       6000,
       TStep::Lost},
      {"reading held back at a full inbox for a minute", {{Hold, 1000, 0}}, 61000, TStep::Wait},
      {"held while asked: the answer waits behind the data",
       {{Ask, 3000, 100}, {Hold, 4000, 0}},
       60000,
       TStep::Wait},
      {"after the hold the quiet time starts afresh",
       {{Hold, 1000, 0}, {Release, 60000, 0}},
       62999,
       TStep::Wait},
      {"and ends with a question", {{Hold, 1000, 0}, {Release, 60000, 0}}, 63000, TStep::Ask},
      {"a hold drops the outstanding question",
       {{Ask, 3000, 100}, {Hold, 4000, 0}, {Release, 5000, 0}},
       7000,
       TStep::Wait},
      {"a write to a station heard within a second goes",
       {{Observe, 1000, 101}},
       1900,
       TStep::Wait,
       -1,
       1900,
       TWriteStep::Send},
      {"a write 1.5 s after the station froze asks first",
       {},
       1500,
       TStep::Wait,
       -1,
       1500,
       TWriteStep::Ask},
      {"and waits for the answer",
       {{Ask, 1500, 100}},
       2499,
       TStep::Wait,
       -1,
       1500,
       TWriteStep::Wait},
      {"which comes",
       {{Ask, 1500, 100}, {Observe, 1600, 101}},
       1600,
       TStep::Wait,
       100,
       1500,
       TWriteStep::Send},
      {"or not: the station is lost and nothing is sent",
       {{Ask, 1500, 100}},
       2500,
       TStep::Wait,
       -1,
       1500,
       TWriteStep::Lost},
      {"a paused inbox counts as heard",
       {{Hold, 1000, 0}},
       61000,
       TStep::Wait,
       -1,
       61000,
       TWriteStep::Send},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TStationLiveness liveness({TNetworkSerialDevice::QuietBound, TNetworkSerialDevice::AnswerBound,
                               TNetworkSerialDevice::WriteAskSpan,
                               TNetworkSerialDevice::WriteAskBound});
    liveness.Start(Zero, 100);
    for (const TEvent& event : c.events) {
      const TClock::time_point at = Zero + std::chrono::milliseconds(event.AtMs);
      switch (event.What) {
        case Observe:
          liveness.Observe(at, event.Received);
          break;
        case Ask:
          liveness.Asked(at, event.Received);
          break;
        case Hold:
        case Release:
          liveness.Hold(at, event.What == Hold);
          break;
      }
    }
    const TClock::time_point check = Zero + std::chrono::milliseconds(c.checkMs);
    EXPECT_EQ(liveness.Next(check), c.expected);
    // The watch sleeps until Due: it must not sleep past a change of the verdict.
    EXPECT_EQ(liveness.Due() > check, c.expected == TStep::Wait);
    if (c.writeAtMs >= 0) {
      EXPECT_EQ(liveness.WriteStep(Zero + std::chrono::milliseconds(c.writeAtMs), check), c.write);
    }
    const std::optional<TClock::duration> roundTrip = liveness.LastRoundTrip();
    EXPECT_EQ(
        roundTrip ? std::chrono::duration_cast<std::chrono::milliseconds>(*roundTrip).count() : -1,
        c.roundTripMs);
  }
}

}  // namespace
