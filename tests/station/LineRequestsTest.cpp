// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The line-setting requests' verdicts on a clock of the test's own: confirmed, refused, left
// unconfirmed past their time.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

#include "station/LineRequests.h"

namespace {

using namespace std::chrono_literals;
using TSetting = TLineRequests::TSetting;
using TVerdict = TLineRequests::TVerdict;
using TClock = TLineRequests::TClock;

const TClock::time_point Zero{};
constexpr std::array<unsigned, TLineRequests::SettingCount> Wanted = {9600, 8, 1, 1, 0};

// The station's answer to one request: its value (the wanted one when none), or an error.
struct TAnswer {
  TSetting Setting;
  int AtMs;
  std::optional<unsigned> Value = std::nullopt;
  int Error = 0;
};

TEST(LineRequestsTest, SettingsAreJudgedByTheirAnswersAndTheirTime) {
  struct TCase {
    const char* name;
    std::vector<TAnswer> answers;
    int checkMs;
    TVerdict verdict;
    TSetting setting;
  };
  using enum TSetting;
  const std::vector<TAnswer> line = {{Speed, 5}, {DataSize, 6}, {Parity, 7}, {StopSize, 10}};
  auto with = [&](std::vector<TAnswer> more) {
    std::vector<TAnswer> all = line;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  const TCase cases[] = {
      {"every request answered as asked", with({{Flow, 11}}), 11, TVerdict::Confirmed, Speed},
      {"another speed than asked",
       {{Speed, 5, 4800}, {DataSize, 6}, {Parity, 7}, {StopSize, 8}},
       8,
       TVerdict::Refused,
       Speed},
      {"gensio gave up on the parity",
       {{Speed, 5}, {DataSize, 6}, {Parity, 7, 0, 1}, {StopSize, 8}},
       8,
       TVerdict::Refused,
       Parity},
      {"the stop size not answered yet",
       {{Speed, 5}, {DataSize, 6}, {Parity, 7}},
       2999,
       TVerdict::Waiting,
       Speed},
      {"the stop size never answered",
       {{Speed, 5}, {DataSize, 6}, {Parity, 7}},
       3000,
       TVerdict::Unconfirmed,
       StopSize},
      {"the flow control not answered yet", line, 309, TVerdict::Waiting, Speed},
      {"the flow control never answered, as in front of a pseudo-terminal", line, 310,
       TVerdict::Confirmed, Speed},
      {"the flow control refused", with({{Flow, 12, 2}}), 12, TVerdict::Refused, Flow},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TLineRequests requests({3s, 300ms});
    std::array<TLineRequests::TReply*, TLineRequests::SettingCount> replies{};
    ASSERT_TRUE(requests.Begin(Zero, Wanted, nullptr, replies));
    for (const TAnswer& answer : c.answers) {
      const auto index = static_cast<std::size_t>(answer.Setting);
      requests.Answer(*replies[index], Zero + std::chrono::milliseconds(answer.AtMs), answer.Error,
                      answer.Value.value_or(Wanted[index]));
    }
    const TClock::time_point check = Zero + std::chrono::milliseconds(c.checkMs);
    const TLineRequests::TJudgement judgement = requests.Judge(check);
    EXPECT_EQ(judgement.Verdict, c.verdict);
    if (c.verdict == TVerdict::Refused || c.verdict == TVerdict::Unconfirmed) {
      EXPECT_EQ(judgement.Setting, c.setting);
    }
    // The device sleeps until Due: it must not sleep past a change of the verdict.
    if (c.verdict == TVerdict::Waiting) {
      EXPECT_GT(requests.Due(), check);
    }
  }
}

// While requests that the station never answers wait, gensio hands the first answers of a new
// application to them: the settings left out are asked again, and an answer to any request for
// a setting counts, as gensio hands it to the oldest one waiting.
TEST(LineRequestsTest, SettingsWhoseAnswersWentElsewhereAreAskedAgain) {
  struct TCase {
    const char* name;
    // Which request gets the answer to the setting asked again: the first, or the second.
    bool toFirst;
    unsigned speedAgain;
    TVerdict verdict;
  };
  const TCase cases[] = {
      {"the answer to the second request", false, 9600, TVerdict::Confirmed},
      {"the answer handed to the first request", true, 9600, TVerdict::Confirmed},
      {"a speed refused when asked again", false, 4800, TVerdict::Refused},
  };
  using enum TSetting;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TLineRequests requests({3s, 300ms});
    std::array<TLineRequests::TReply*, TLineRequests::SettingCount> replies{};
    ASSERT_TRUE(requests.Begin(Zero, Wanted, nullptr, replies));
    EXPECT_TRUE(requests.Swallowed().empty());
    for (TSetting setting : {Parity, StopSize, Flow}) {
      const auto index = static_cast<std::size_t>(setting);
      requests.Answer(*replies[index], Zero + 5ms, 0, Wanted[index]);
    }
    ASSERT_EQ(requests.Swallowed(), (std::vector<TSetting>{Speed, DataSize}));
    TLineRequests::TReply* speed = requests.Request(Speed, nullptr);
    TLineRequests::TReply* size = requests.Request(DataSize, nullptr);
    EXPECT_TRUE(requests.Swallowed().empty()) << "asked again once only";
    EXPECT_EQ(requests.Judge(Zero + 6ms).Verdict, TVerdict::Waiting);
    requests.Answer(c.toFirst ? *replies[0] : *speed, Zero + 7ms, 0, c.speedAgain);
    requests.Answer(*size, Zero + 7ms, 0, Wanted[1]);
    EXPECT_EQ(requests.Judge(Zero + 7ms).Verdict, c.verdict);
  }
  // gensio giving up on a request of an earlier application is not the station's word.
  TLineRequests requests({3s, 300ms});
  std::array<TLineRequests::TReply*, TLineRequests::SettingCount> first{}, second{};
  ASSERT_TRUE(requests.Begin(Zero, Wanted, nullptr, first));
  ASSERT_TRUE(requests.Begin(Zero + 1s, Wanted, nullptr, second));
  requests.Answer(*first[0], Zero + 1001ms, 1, 0);
  for (std::size_t i = 1; i < TLineRequests::SettingCount; ++i) {
    requests.Answer(*second[i], Zero + 1002ms, 0, Wanted[i]);
  }
  EXPECT_EQ(requests.Judge(Zero + 1002ms).Verdict, TVerdict::Waiting);
  requests.Answer(*second[0], Zero + 1003ms, 0, Wanted[0]);
  EXPECT_EQ(requests.Judge(Zero + 1003ms).Verdict, TVerdict::Confirmed);
}

}  // namespace
