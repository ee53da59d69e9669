// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Tests of the tuner line protocol: framing, identification, every status rule.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <random>

#include "protocol/TunerCommands.h"
#include "protocol/TunerProtocol.h"
#include "tests/protocol/RecordingHost.h"

namespace {

using Lines = std::vector<std::string>;

struct Fixture {
  TRecordingHost host;
  TTunerProtocol protocol{host, '.'};

  void Identify() {
    protocol.Receive("ATU_KORAX\r\n");
    host.Log.clear();
    host.Written.clear();
  }
};

// "0.04" * n written the way the tuner's operators read it: no trailing zeros.
std::string Hundredths(int hundredths) {
  std::string text = std::to_string(hundredths / 100);
  int fraction = hundredths % 100;
  if (fraction != 0) {
    text += '.';
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
  }
  return text;
}

std::string Binary8(int n) {
  std::string code;
  for (int bit = 7; bit >= 0; --bit) code += (n >> bit) & 1 ? '1' : '0';
  return code;
}

TEST(TunerProtocolIdentification, AnswersEveryIdentificationLine) {
  struct Case {
    std::string chunk;
    bool identifies;
  };
  for (const Case& c :
       {Case{"ATU_KORAX\r\n", true}, Case{"ATU_KORAX 2.0\r\n", true}, Case{"ATU_KORA\r\n", false},
        Case{"atu_korax\r\n", false}, Case{" ATU_KORAX\r\n", false}}) {
    SCOPED_TRACE(c.chunk);
    Fixture f;
    f.protocol.Receive(c.chunk);
    std::string line = c.chunk.substr(0, c.chunk.size() - 2);
    if (c.identifies) {
      EXPECT_EQ(f.host.Log, (Lines{"+ " + line, "- ????"}));
      EXPECT_EQ(f.host.Written, (Lines{"????\r\n"}));
      EXPECT_EQ(f.host.State.OpenPortCaption, "ATU conn");
      EXPECT_EQ(f.host.State.ProbeStops, 1);
      EXPECT_TRUE(f.protocol.AtuConnected());
    } else {
      EXPECT_EQ(f.host.Log, (Lines{"+ " + line}));
      EXPECT_TRUE(f.host.Written.empty());
      EXPECT_FALSE(f.protocol.AtuConnected());
      EXPECT_EQ(f.host.State, TDisplayState{});
    }
  }
}

TEST(TunerProtocolIdentification, RepeatedIdentificationRepliesAgain) {
  Fixture f;
  f.protocol.Receive("ATU_KORAX\r\nATU_KORAX\r\n");
  EXPECT_EQ(f.host.Written, (Lines{"????\r\n", "????\r\n"}));
  EXPECT_EQ(f.host.State.ProbeStops, 2);
}

TEST(TunerProtocolIdentification, StatusLinesBeforeIdentificationOnlyLog) {
  Fixture f;
  f.protocol.Receive("SWR: 15\r\nRED: ON\r\n");
  EXPECT_EQ(f.host.Log, (Lines{"+ SWR: 15", "+ RED: ON"}));
  EXPECT_EQ(f.host.State, TDisplayState{});
}

TEST(TunerProtocolIdentification, ReplyThatCannotBeWrittenKeepsStateAndGoesOn) {
  Fixture f;
  f.host.PortOpen = false;
  EXPECT_NO_THROW(f.protocol.Receive("ATU_KORAX\r\nSWR: 15\r\n"));
  EXPECT_EQ(f.host.Log, (Lines{"+ ATU_KORAX", "+ SWR: 15"}));
  EXPECT_TRUE(f.protocol.AtuConnected());
  EXPECT_EQ(f.host.State.OpenPortCaption, "ATU conn");
  EXPECT_EQ(f.host.State.ProbeStops, 1);
  EXPECT_EQ(f.host.State.Swr, "1.5");
}

// One status line after identification, and what it shows.
struct StatusCase {
  std::string line;
  std::function<void(TDisplayState&)> expect;
};

TEST(TunerProtocolStatus, EachRuleSetsItsField) {
  const std::vector<StatusCase> cases = {
      {"SWR: 15", [](TDisplayState& s) { s.Swr = "1.5"; }},
      {"SWR: 255", [](TDisplayState& s) { s.Swr = "???"; }},
      {"SWR: 1", [](TDisplayState& s) { s.Swr = "1.0"; }},
      {"SWR: 100", [](TDisplayState& s) { s.Swr = "1.0"; }},
      {"SWR: 255 ", [](TDisplayState& s) { s.Swr = "2.0"; }},
      {"SWR: 9", [](TDisplayState& s) { s.Swr = "9.0"; }},
      {"SWR: 123456", [](TDisplayState& s) { s.Swr = "1.0"; }},
      {"SWR: ", [](TDisplayState& s) { s.Swr = ""; }},
      {"END_SWR: 19", [](TDisplayState& s) { s.Swr = "1.9"; }},
      {"END_SWR: ", [](TDisplayState& s) { s.Swr = ""; }},
      {"END_L: 11111111", [](TDisplayState& s) { s.Inductance = "10.2 \xB5H"; }},
      {"Port L: 00010000", [](TDisplayState& s) { s.Inductance = "0.64 \xB5H"; }},
      {"END_L: 1", [](TDisplayState& s) { s.Inductance = "0.04 \xB5H"; }},
      {"END_L: ", [](TDisplayState& s) { s.Inductance = "0 \xB5H"; }},
      {"END_L: 011111111", [](TDisplayState& s) { s.Inductance = "10.2 \xB5H"; }},
      {"END_L: 99999999", [](TDisplayState& s) { s.Inductance = "91.8 \xB5H"; }},
      {"END_L: 0000000x", [](TDisplayState& s) { s.Inductance = ""; }},
      {"END_C: 11111111", [](TDisplayState& s) { s.Capacitance = "1275 pF"; }},
      {"Port C:101", [](TDisplayState& s) { s.Capacitance = "25 pF"; }},
      {"END_C: 00000101", [](TDisplayState& s) { s.Capacitance = "25 pF"; }},
      {"Port C: 1 2", [](TDisplayState& s) { s.Capacitance = ""; }},
      {"FWD: 123456", [](TDisplayState& s) { s.ForwardPower = "12345"; }},
      {"FWD: 87", [](TDisplayState& s) { s.ForwardPower = "87"; }},
      {"RED: ON", [](TDisplayState& s) { s.Red = true; }},
      {"RED: ONx", [](TDisplayState& s) { s.Red = true; }},
      {"RED: on", [](TDisplayState&) {}},
      {"RED:ON", [](TDisplayState&) {}},
      {"GREEN: ON", [](TDisplayState& s) { s.Green = true; }},
      {"YELLOW: ON", [](TDisplayState& s) { s.Yellow = true; }},
      {"PA_CTRL ON", [](TDisplayState& s) { s.TuneDown = true; }},
      {"PA_CTRL on", [](TDisplayState&) {}},
      {"SWRmin: 13", [](TDisplayState& s) { s.SwrMin = 13; }},
      {"SWRmin: 11", [](TDisplayState& s) { s.SwrMin = 11; }},
      {"SWRmin: 17", [](TDisplayState& s) { s.SwrMin = 17; }},
      {"SWRmin: 18", [](TDisplayState&) {}},
      {"SWRmin: 1", [](TDisplayState&) {}},
      {"SWRmin: 1x", [](TDisplayState&) {}},
      {"SWRmin: ", [](TDisplayState&) {}},
      {"K: 0", [](TDisplayState& s) { s.Picture = 0; }},
      {"K: 1", [](TDisplayState& s) { s.Picture = 1; }},
      {"K: ", [](TDisplayState& s) { s.Picture = 1; }},
      {"END_K: 2", [](TDisplayState& s) { s.Picture = 1; }},
      {"END_K: 0", [](TDisplayState& s) { s.Picture = 0; }},
      {"Hello", [](TDisplayState&) {}},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.line);
    Fixture f;
    f.Identify();
    TDisplayState expected = f.host.State;
    c.expect(expected);
    f.protocol.Receive(c.line + "\r\n");
    EXPECT_EQ(f.host.State, expected);
    EXPECT_EQ(f.host.Log, (Lines{"+ " + c.line}));
    EXPECT_TRUE(f.host.Written.empty());
  }
}

TEST(TunerProtocolStatus, LampsAndTuneGoOffAgain) {
  Fixture f;
  f.Identify();
  f.protocol.Receive("RED: ON\r\nGREEN: ON\r\nYELLOW: ON\r\nPA_CTRL ON\r\n");
  f.protocol.Receive("RED: OFF\r\nGREEN: \r\nYELLOW: On\r\nPA_CTRL OFF\r\n");
  EXPECT_FALSE(f.host.State.Red);
  EXPECT_FALSE(f.host.State.Green);
  EXPECT_FALSE(f.host.State.Yellow);
  EXPECT_FALSE(f.host.State.TuneDown);
}

TEST(TunerProtocolStatus, EveryBinaryCodeGivesItsExactValue) {
  for (int n = 0; n < 256; ++n) {
    const std::string code = Binary8(n);
    SCOPED_TRACE(code);
    EXPECT_EQ(TTunerProtocol::InductanceText(code, '.'), Hundredths(4 * n) + " \xB5H");
    EXPECT_EQ(TTunerProtocol::CapacitanceText(code, '.'), std::to_string(5 * n) + " pF");
  }
}

TEST(TunerProtocolStatus, DecimalCommaLocale) {
  EXPECT_EQ(TTunerProtocol::InductanceText("01111111", ','), "5,08 \xB5H");
  EXPECT_EQ(TTunerProtocol::CapacitanceText("11111111", ','), "1275 pF");

  const char* old = std::getenv("LC_ALL");
  const std::string saved = old ? old : "";
  ::setenv("LC_ALL", "de_DE.UTF-8", 1);
  const char separator = TTunerProtocol::UserDecimalSeparator();
  if (old)
    ::setenv("LC_ALL", saved.c_str(), 1);
  else
    ::unsetenv("LC_ALL");
  EXPECT_EQ(separator, ',') << "the de_DE.UTF-8 locale must be installed (scripts/install-deps)";

  TRecordingHost host;
  TTunerProtocol protocol(host, separator);
  protocol.Receive("ATU_KORAX\r\nEND_L: 01111111\r\nSWR: 15\r\n");
  EXPECT_EQ(host.State.Inductance, "5,08 \xB5H");
  EXPECT_EQ(host.State.Swr, "1.5") << "the SWR text always uses a point";
}

TEST(TunerProtocolFraming, ChunksAreCutIntoLines) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    Lines log;
  };
  const std::vector<Case> cases = {
      {"two lines", {"SWR: 15\r\nRED: ON\r\n"}, {"+ SWR: 15", "+ RED: ON"}},
      {"no terminator yet", {"SWR: 15"}, {}},
      {"empty lines", {"\r\n\r\n"}, {"+ ", "+ "}},
      {"line split over two chunks", {"SWR: 1", "5\r\n"}, {"+ SWR: 15"}},
      {"split between CR and LF", {"SWR: 15\r", "\nRED: ON\r\n"}, {"+ SWR: 15", "+ RED: ON"}},
      {"lone CR costs nothing", {"SWR: 15\rRED: ON\r"}, {"+ SWR: 15", "+ RED: ON"}},
      {"lone CR at the end of a chunk", {"SWR: 15\r", "RED: ON\r\n"}, {"+ SWR: 15", "+ RED: ON"}},
      {"LF not after CR stays in the line", {"A\nB\r\n"}, {"+ A\nB"}},
      {"second LF is part of the next line", {"A\r\n\nB\r\n"}, {"+ A", "+ \nB"}},
      {"NUL bytes are kept", {std::string("A\0B\r\n", 5)}, {"+ " + std::string("A\0B", 3)}},
      {"byte by byte", {"S", "W", "R", ":", " ", "1", "5", "\r", "\n"}, {"+ SWR: 15"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    for (const std::string& chunk : c.chunks) f.protocol.Receive(chunk);
    EXPECT_EQ(f.host.Log, c.log);
  }
}

TEST(TunerProtocolFraming, SplitStatusLineIsAppliedOnceWhole) {
  Fixture f;
  f.Identify();
  f.protocol.Receive("SWR: 1");
  EXPECT_EQ(f.host.State.Swr, "<unset>");
  f.protocol.Receive("5\r\nEND_K");
  f.protocol.Receive(": 0\r\n");
  EXPECT_EQ(f.host.Log, (Lines{"+ SWR: 15", "+ END_K: 0"}));
  EXPECT_EQ(f.host.State.Swr, "1.5");
  EXPECT_EQ(f.host.State.Picture, 0);
}

TEST(TunerProtocolFraming, OverlongLinesAreHandledInBoundedPieces) {
  Fixture f;
  const std::string piece(TTunerProtocol::MaxLineLength, 'x');
  f.protocol.Receive(piece);
  EXPECT_TRUE(f.host.Log.empty()) << "exactly the limit is still one pending line";
  f.protocol.Receive(piece + "yy");
  f.protocol.Receive("\r\n");
  EXPECT_EQ(f.host.Log, (Lines{"+ " + piece, "+ " + piece, "+ yy"}));

  Fixture g;
  for (int i = 0; i < 100; ++i) g.protocol.Receive(std::string(1000, 'z'));
  EXPECT_EQ(g.host.Log.size(), 100000 / TTunerProtocol::MaxLineLength);
}

TEST(TunerProtocolFraming, OverlongPieceIsTestedAgainstTheRules) {
  Fixture f;
  f.Identify();
  f.protocol.Receive("SWR: 23" + std::string(TTunerProtocol::MaxLineLength, '7'));
  EXPECT_EQ(f.host.State.Swr, "2.0");
}

TEST(TunerProtocolFraming, ResetDropsTheKeptRest) {
  Fixture f;
  f.protocol.Receive("SWR: 1");
  f.protocol.ResetFraming();
  f.protocol.Receive("5\r\n");
  EXPECT_EQ(f.host.Log, (Lines{"+ 5"}));

  Fixture g;
  g.protocol.Receive("A\r");
  g.protocol.ResetFraming();
  g.protocol.Receive("\nB\r\n");
  EXPECT_EQ(g.host.Log, (Lines{"+ A", "+ \nB"}));
}

TEST(TunerProtocolFraming, PortReopenedWhileAChunkIsHandled) {
  Fixture f;
  f.Identify();
  // The operator re-opens the port while the first line's events run: the rest of the chunk
  // is still handled, but its unterminated tail does not reach the new port's first line.
  f.host.OnEvents = [&] {
    f.host.OnEvents = nullptr;
    f.protocol.ResetFraming();
  };
  f.protocol.Receive("SWR: 15\r\nRED: ON\r\nEND_");
  f.protocol.Receive("K: 0\r\n");
  EXPECT_EQ(f.host.Log, (Lines{"+ SWR: 15", "+ RED: ON", "+ K: 0"}));
  EXPECT_TRUE(f.host.State.Red);
}

TEST(TunerProtocolFraming, MalformedValueSpoilsOnlyItsOwnLine) {
  Fixture f;
  f.Identify();
  f.protocol.Receive("END_L: 00000001\r\nSWRmin: 12\r\n");
  f.protocol.Receive("END_L: 0000000x\r\nSWR: 15\r\nSWRmin: zz\r\nEND_C: 1\r\n");
  EXPECT_EQ(f.host.Log.size(), 6u);
  EXPECT_EQ(f.host.Log[5], "+ END_C: 1");
  EXPECT_EQ(f.host.State.Inductance, "");
  EXPECT_EQ(f.host.State.Swr, "1.5");
  EXPECT_EQ(f.host.State.SwrMin, 12);
  EXPECT_EQ(f.host.State.Capacitance, "5 pF");
}

TEST(TunerProtocolFraming, EventsRunAfterEachNonEmptyLine) {
  Fixture f;
  int runs = 0;
  f.host.OnEvents = [&] { ++runs; };
  f.protocol.Receive("A\r\n\r\nB\r\nC");
  EXPECT_EQ(runs, 2);
}

TEST(TunerProtocolFraming, StatusAppliesAfterReopenWithoutNewIdentification) {
  Fixture f;
  f.Identify();
  f.protocol.ResetFraming();
  f.protocol.Receive("GREEN: ON\r\n");
  EXPECT_TRUE(f.host.State.Green);
}

// A long status stream cut at random points ends with the same log and display as the whole.
TEST(TunerProtocolProperty, RandomChunkBoundariesDoNotChangeTheOutcome) {
  std::mt19937 random(20261207);
  const std::vector<std::string> lines = {
      "ATU_KORAX 1.2",    "SWR: 15",    "END_SWR: 19",     "Port L: 00010000",
      "END_L: 11111111",  "Port C:101", "END_C: 11111111", "K: 0",
      "END_K: 1",         "RED: ON",    "GREEN: OFF",      "YELLOW: ON",
      "PA_CTRL ON",       "SWRmin: 13", "FWD: 1234",       "",
      "garbage \x01\xff", "SWR: 255",   "END_L: 0000000x", "PA_CTRL OFF"};
  for (int round = 0; round < 50; ++round) {
    std::string stream;
    for (int i = 0; i < 300; ++i) {
      stream += lines[random() % lines.size()];
      stream += (random() % 5 == 0) ? "\r" : "\r\n";
    }
    Fixture whole;
    whole.protocol.Receive(stream);

    Fixture cut;
    std::size_t pos = 0;
    while (pos < stream.size()) {
      std::size_t length = std::min<std::size_t>(stream.size() - pos, random() % 40);
      cut.protocol.Receive(std::string_view(stream).substr(pos, length));
      pos += length;
    }
    ASSERT_EQ(cut.host.Log, whole.host.Log) << "round " << round;
    ASSERT_EQ(cut.host.State, whole.host.State) << "round " << round;
    ASSERT_EQ(cut.host.Written, whole.host.Written) << "round " << round;
  }
}

TEST(TunerCommandsTest, WireAndLogForms) {
  EXPECT_EQ(TunerCommands::WireForm(TunerCommands::Probe), "ATU?\r\n");
  EXPECT_EQ(TunerCommands::WireForm(TunerCommands::SwrMin(15)), "SWRmin 15\r\n");
  EXPECT_EQ(TunerCommands::LogForm(ldSent, TunerCommands::TuneOn), "- TUNE ON");
  EXPECT_EQ(TunerCommands::LogForm(ldReceived, "SWR: 15"), "+ SWR: 15");

  Fixture f;
  f.protocol.Send(TunerCommands::MemoryClear);
  EXPECT_EQ(f.host.Written, (Lines{"CMEM\r\n"}));
  EXPECT_EQ(f.host.Log, (Lines{"- CMEM"}));
  f.host.PortOpen = false;
  EXPECT_THROW(f.protocol.Send(TunerCommands::Query), std::runtime_error);
  EXPECT_EQ(f.host.Log.size(), 1u) << "a failed write is not logged";
}

}  // namespace
