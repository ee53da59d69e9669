// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The simulated tuner's protocol: what it answers, the grammar of every line it sends, the
// tuning cycle and its faults, all on a clock the test drives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tools/tuner-sim/TunerSim.h"

namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr milliseconds kLater(60000);

// The prefixes that the program's receiver acts on.
const char* const kStatusPrefixes[] = {
    "PA_CTRL ", "RED: ",   "GREEN: ", "YELLOW: ",  "SWRmin: ", "FWD: ", "END_L: ",
    "Port L:",  "END_C: ", "Port C:", "END_SWR: ", "SWR: ",    "K: ",   "END_K: "};

// Cuts what the tuner sent into lines; every line must end in CR LF.
std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(bytes.substr(start, end - start));
  }
  EXPECT_EQ(start, bytes.size()) << "bytes after the last CR LF";
  return lines;
}

std::vector<std::string> Ask(TunerSim& tuner, const std::string& commands) {
  tuner.Receive(commands, milliseconds(0));
  return Lines(tuner.Poll(kLater));
}

// Every line the tuner may send, with the exact width of its value.
bool WellFormed(const std::string& line) {
  static const std::regex grammar(
      "(END_)?SWR: ([1-9][0-9]|255)|(Port |END_)[LC]: [01]{8}|(END_)?K: [01]|"
      "(RED|GREEN|YELLOW): (ON|OFF)|SWRmin: 1[1-7]|PA_CTRL (ON|OFF)|FWD: [0-9]{3}|"
      "ATU_KORAX [0-9]+\\.[0-9]+|ERROR|MaxFWD: [0-9]{3}|RDelay: [0-9]{2}");
  return std::regex_match(line, grammar);
}

bool HasStatusPrefix(const std::string& line) {
  return std::any_of(std::begin(kStatusPrefixes), std::end(kStatusPrefixes),
                     [&](const char* prefix) { return line.starts_with(prefix); });
}

TunerSim Tuner(const char* antenna = "vertical20", TunerFaults faults = {}) {
  return TunerSim(*FindBuiltInLoad(antenna), faults, 1);
}

TEST(TunerSimTest, AnswersEachCommand) {
  struct Case {
    const char* command;
    std::vector<std::string> answer;
  } cases[] = {
      {"ATU?\r\n", {"ATU_KORAX 2.0"}},
      {"SWRmin 13\r\n", {"SWRmin: 13"}},
      {"SWRmin ?\r\n", {"SWRmin: 15"}},
      {"SWRmin 18\r\n", {"ERROR"}},
      {"SWRmin 1\r\n", {"ERROR"}},
      {"SWRmin 013\r\n", {"ERROR"}},
      {"Port_L 101\r\n", {"Port L: 00000101"}},
      {"Port_L ?\r\n", {"Port L: 00000000"}},
      {"Port_C 11111111\r\n", {"Port C: 11111111"}},
      {"Port_C 111111111\r\n", {"ERROR"}},
      {"Port_L 2\r\n", {"ERROR"}},
      {"Port_L\r\n", {"ERROR"}},
      {"MaxFWD ?\r\n", {"MaxFWD: 700"}},
      {"MaxFWD 65\r\n", {"MaxFWD: 065"}},
      {"MaxFWD 1000\r\n", {"ERROR"}},
      {"RDelay ?\r\n", {"RDelay: 12"}},
      {"RDelay 7\r\n", {"RDelay: 07"}},
      {"RDelay x\r\n", {"ERROR"}},
      {"atu?\r\n", {"ERROR"}},
      {"???\r\n", {"ERROR"}},
      {"TUNE OFF\r\n", {"ERROR"}},
      {"CMEM\r\n", {}},
      {"\r\n\r\n", {}},
      {"  ATU?  \r\n", {"ATU_KORAX 2.0"}},
      {"ATU?\r", {"ATU_KORAX 2.0"}},
      {"ATU?\n", {"ATU_KORAX 2.0"}},
      {"ATU?", {}},
      {"SWRmin 12\r\nSWRmin ?\r\n", {"SWRmin: 12", "SWRmin: 12"}},
  };
  for (const Case& c : cases) {
    TunerSim tuner = Tuner();
    EXPECT_THAT(Ask(tuner, c.command), ElementsAreArray(c.answer)) << c.command;
  }
}

TEST(TunerSimTest, ReportsItsWholeState) {
  TunerSim tuner = Tuner();
  EXPECT_THAT(Ask(tuner, "Port_L 11\r\nPort_C 100\r\nSWRmin 16\r\n????\r\n"),
              ElementsAre("Port L: 00000011", "Port C: 00000100", "SWRmin: 16", "SWR: 255",
                          "Port L: 00000011", "Port C: 00000100", "K: 0", "RED: OFF", "GREEN: OFF",
                          "YELLOW: OFF", "SWRmin: 16", "PA_CTRL OFF", "FWD: 000"));
}

TEST(TunerSimTest, CommandsArriveInPieces) {
  TunerSim tuner = Tuner();
  EXPECT_TRUE(tuner.Receive("AT", milliseconds(0)).empty());
  EXPECT_EQ(tuner.Poll(kLater), "");
  EXPECT_THAT(tuner.Receive("U?\r", milliseconds(1)), ElementsAre("ATU?"));
  EXPECT_THAT(tuner.Receive("\nSWRmin ?\r\n", milliseconds(2)), ElementsAre("SWRmin ?"));
  EXPECT_THAT(Lines(tuner.Poll(kLater)), ElementsAre("ATU_KORAX 2.0", "SWRmin: 15"));
}

TEST(TunerSimTest, AnOverlongCommandIsRefusedWholeAndTheNextOneAnswered) {
  TunerSim tuner = Tuner();
  std::string noise(TunerSim::kMaxCommandLength + 10, 'A');
  noise += "ATU?\r\nATU?\r\n";
  EXPECT_THAT(Ask(tuner, noise), ElementsAre("ERROR", "ATU_KORAX 2.0"));
}

TEST(TunerSimTest, DelayHoldsEveryAnswerBack) {
  TunerFaults faults;
  faults.delay = milliseconds(500);
  TunerSim tuner = Tuner("vertical20", faults);
  tuner.Receive("ATU?\r\n", milliseconds(100));
  EXPECT_EQ(tuner.NextDue(), milliseconds(600));
  EXPECT_EQ(tuner.Poll(milliseconds(599)), "");
  EXPECT_EQ(tuner.Poll(milliseconds(600)), "ATU_KORAX 2.0\r\n");
  EXPECT_FALSE(tuner.NextDue().has_value());
}

TEST(TunerSimTest, SilentTunerNeverIdentifiesButAnswersTheRest) {
  TunerFaults faults;
  faults.silent = true;
  TunerSim tuner = Tuner("vertical20", faults);
  EXPECT_THAT(Ask(tuner, "ATU?\r\nSWRmin ?\r\nATU?\r\n"), ElementsAre("SWRmin: 15"));
}

TEST(TunerSimTest, EveryLineSentFollowsTheGrammar) {
  const std::string session =
      "ATU?\r\n????\r\nSWRmin 11\r\nTUNE ON\r\nPort_L ?\r\nPort_C ?\r\nMaxFWD ?\r\n"
      "RDelay ?\r\nbogus\r\nCMEM\r\n????\r\nPort_L 1\r\nMaxFWD 9\r\nRDelay 0\r\n";
  struct Case {
    const char* antenna;
    int flood;
  } cases[] = {
      {"vertical20", 0}, {"dipole40", 0}, {"endfed160", 0}, {"dummy", 0}, {"mobile10", 200}};
  for (const Case& c : cases) {
    TunerFaults faults;
    faults.flood_per_second = c.flood;
    TunerSim tuner = Tuner(c.antenna, faults);
    std::string sent;
    tuner.Receive(session, milliseconds(0));
    for (milliseconds t(0); t < milliseconds(6000); t += milliseconds(37)) {
      sent += tuner.Poll(t);
      if (t == milliseconds(1000)) tuner.Receive("????\r\nTUNE ON\r\n", t);
    }
    const std::vector<std::string> lines = Lines(sent);
    EXPECT_GT(lines.size(), 100u);
    for (const std::string& line : lines) {
      EXPECT_TRUE(WellFormed(line)) << c.antenna << ": \"" << line << "\"";
      // Answers outside the status set must not be taken for status lines by the receiver.
      if (line.starts_with("MaxFWD") || line.starts_with("RDelay") || line == "ERROR") {
        EXPECT_FALSE(HasStatusPrefix(line)) << line;
      }
    }
  }
}

// The lines of one tuning cycle, from "TUNE ON" to the end.
std::vector<std::string> TuningCycle(const char* antenna, int threshold) {
  TunerSim tuner = Tuner(antenna);
  tuner.Receive("SWRmin " + std::to_string(threshold) + "\r\n", milliseconds(0));
  tuner.Poll(milliseconds(0));
  tuner.Receive("TUNE ON\r\n", milliseconds(0));
  return Lines(tuner.Poll(kLater));
}

std::vector<std::string> WithPrefix(const std::vector<std::string>& lines, const char* prefix) {
  std::vector<std::string> values;
  for (const std::string& line : lines) {
    if (line.starts_with(prefix)) values.push_back(line.substr(std::string(prefix).size()));
  }
  return values;
}

TEST(TunerSimTest, TuningCycleStepsTheRelaysToTheBestSetting) {
  const std::vector<std::string> lines = TuningCycle("dipole40", 15);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_THAT(std::vector(lines.begin(), lines.begin() + 2),
              ElementsAre("PA_CTRL ON", "YELLOW: ON"));
  EXPECT_EQ(lines.back(), "PA_CTRL OFF");

  const Match best = LNetwork(*FindBuiltInLoad("dipole40")).Best();
  EXPECT_THAT(WithPrefix(lines, "END_L: "), ElementsAre(BinaryValue(best.l_code)));
  EXPECT_THAT(WithPrefix(lines, "END_C: "), ElementsAre(BinaryValue(best.c_code)));
  EXPECT_THAT(WithPrefix(lines, "END_K: "), ElementsAre("1"));
  EXPECT_THAT(WithPrefix(lines, "END_SWR: "), ElementsAre("10"));
  EXPECT_EQ(WithPrefix(lines, "Port L: ").back(), BinaryValue(best.l_code));
  EXPECT_EQ(WithPrefix(lines, "Port C: ").back(), BinaryValue(best.c_code));
  EXPECT_EQ(WithPrefix(lines, "FWD: ").back(), "000");

  std::vector<int> readings;
  for (const std::string& value : WithPrefix(lines, "SWR: ")) readings.push_back(std::stoi(value));
  ASSERT_GE(readings.size(), 8u);
  EXPECT_TRUE(std::is_sorted(readings.rbegin(), readings.rend()));
  EXPECT_GT(readings.front(), readings.back());
  // The relays move: the codes reported along the way are not all the same.
  auto codes = WithPrefix(lines, "Port L: ");
  EXPECT_GT(std::set(codes.begin(), codes.end()).size(), 5u);
}

TEST(TunerSimTest, TheThresholdDecidesGreenOrRed) {
  struct Case {
    const char* antenna;  // best SWR: mobile10 1.2, dummy 1.0, endfed160 out of range
    int threshold;
    const char* lamp;
  } cases[] = {{"mobile10", 15, "GREEN: ON"},
               {"mobile10", 12, "GREEN: ON"},
               {"mobile10", 11, "RED: ON"},
               {"dummy", 11, "GREEN: ON"},
               {"endfed160", 17, "RED: ON"}};
  for (const Case& c : cases) {
    const std::vector<std::string> lines = TuningCycle(c.antenna, c.threshold);
    const auto lamps = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line == "GREEN: ON" || line == "RED: ON";
    });
    EXPECT_EQ(lamps, 1) << c.antenna;
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.lamp), lines.end())
        << c.antenna << " at " << c.threshold;
  }
}

TEST(TunerSimTest, TuningTakesAFewSecondsAndIsNotRestartedMidway) {
  TunerSim tuner = Tuner();
  tuner.Receive("TUNE ON\r\n", milliseconds(0));
  std::string early = tuner.Poll(milliseconds(1000));
  EXPECT_TRUE(tuner.State().tuning);
  tuner.Receive("TUNE ON\r\n", milliseconds(1000));
  EXPECT_EQ(tuner.Poll(milliseconds(1999)).find("PA_CTRL OFF"), std::string::npos);
  const std::vector<std::string> rest = Lines(tuner.Poll(milliseconds(5000)));
  EXPECT_FALSE(tuner.State().tuning);
  EXPECT_EQ(rest.back(), "PA_CTRL OFF");
  EXPECT_EQ(std::count(rest.begin(), rest.end(), "PA_CTRL ON"), 0);
  EXPECT_EQ(Lines(early).front(), "PA_CTRL ON");
}

TEST(TunerSimTest, MemoryClearForgetsTheTunedSettingButNotTheThreshold) {
  TunerSim tuner = Tuner("loop15");
  Ask(tuner, "SWRmin 14\r\nTUNE ON\r\n");
  EXPECT_NE(tuner.State().l_code, 0);
  EXPECT_TRUE(tuner.State().green);
  EXPECT_THAT(Ask(tuner, "CMEM\r\n????\r\n"),
              ElementsAre("SWR: 255", "Port L: 00000000", "Port C: 00000000", "K: 0", "RED: OFF",
                          "GREEN: OFF", "YELLOW: OFF", "SWRmin: 14", "PA_CTRL OFF", "FWD: 000"));
}

TEST(TunerSimTest, FloodSendsStatusLinesAtTheSetRate) {
  TunerFaults faults;
  faults.flood_per_second = 50;
  TunerSim tuner = Tuner("vertical20", faults);
  std::size_t lines = 0;
  for (milliseconds t(0); t <= milliseconds(2000); t += milliseconds(10)) {
    for (const std::string& line : Lines(tuner.Poll(t))) {
      EXPECT_TRUE(HasStatusPrefix(line)) << line;
      ++lines;
    }
  }
  EXPECT_GE(lines, 100u);
  EXPECT_LE(lines, 102u);
}

TEST(TunerSimTest, GarbageComesAsLinesOfItsOwnThatPassForNothing) {
  TunerFaults faults;
  faults.garbage_rate = 0.5;
  TunerSim tuner = Tuner("vertical20", faults);
  const std::vector<std::string> lines = Ask(tuner, "ATU?\r\n????\r\nTUNE ON\r\n");
  std::vector<std::string> clean;
  int junk = 0;
  for (const std::string& line : lines) {
    if (WellFormed(line)) {
      clean.push_back(line);
    } else {
      ++junk;
      EXPECT_FALSE(HasStatusPrefix(line));
      EXPECT_FALSE(line.starts_with("ATU_KORAX"));
      EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    }
  }
  EXPECT_GT(junk, 10);
  TunerSim plain = Tuner();
  EXPECT_EQ(clean, Ask(plain, "ATU?\r\n????\r\nTUNE ON\r\n"));
}

}  // namespace
