// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The simulator's command line: every option reaches its setting, and mistakes are refused with
// a message that names them.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/tuner-sim/SimOptions.h"

namespace {

using std::chrono::milliseconds;

TEST(SimOptionsTest, DefaultsNeedNoOption) {
  const SimOptions options = ParseOptions({});
  EXPECT_EQ(options.name, "COM250");
  EXPECT_EQ(options.load.name, BuiltInLoads().front().name);
  EXPECT_FALSE(options.once || options.split || options.verbose || options.faults.silent);
  EXPECT_FALSE(options.seed.has_value());
  EXPECT_EQ(options.unplug_after, milliseconds(0));
}

TEST(SimOptionsTest, EachOptionReachesItsSetting) {
  struct Case {
    std::vector<std::string> arguments;
    std::function<bool(const SimOptions&)> holds;
  } cases[] = {
      {{"--name", "COM7"}, [](auto& o) { return o.name == "COM7"; }},
      {{"--name=vcom1"}, [](auto& o) { return o.name == "vcom1"; }},
      {{"--antenna", "loop15"}, [](auto& o) { return o.load.resistance == 115; }},
      {{"--load", "12.5,-30"},
       [](auto& o) { return o.load.resistance == 12.5 && o.load.reactance == -30; }},
      {{"--load=300,40,3.5"}, [](auto& o) { return o.load.megahertz == 3.5; }},
      {{"--once"}, [](auto& o) { return o.once; }},
      {{"--silent"}, [](auto& o) { return o.faults.silent; }},
      {{"--split"}, [](auto& o) { return o.split; }},
      {{"--garbage", "0.25"}, [](auto& o) { return o.faults.garbage_rate == 0.25; }},
      {{"--flood", "40"}, [](auto& o) { return o.faults.flood_per_second == 40; }},
      {{"--unplug-after", "1.5"}, [](auto& o) { return o.unplug_after == milliseconds(1500); }},
      {{"--seed", "4294967295"}, [](auto& o) { return o.seed == 4294967295u; }},
      {{"--delay", "250"}, [](auto& o) { return o.faults.delay == milliseconds(250); }},
      {{"-v"}, [](auto& o) { return o.verbose; }},
      {{"--help"}, [](auto& o) { return o.help; }},
      {{"--version"}, [](auto& o) { return o.version; }},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(c.holds(ParseOptions(c.arguments))) << c.arguments.front();
  }
}

TEST(SimOptionsTest, MistakesAreRefusedByName) {
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  } cases[] = {
      {{"--bogus"}, "unknown option \"--bogus\""},
      {{"--name"}, "--name needs a value"},
      {{"--name", "a/b"}, "--name wants a file name"},
      {{"--name", ""}, "--name wants a file name"},
      {{"--name", ".."}, "--name wants a file name"},
      {{"--antenna", "yagi"}, "unknown antenna or malformed load \"yagi\""},
      {{"--load", "0,5"}, "malformed load"},
      {{"--load", "50"}, "malformed load"},
      {{"--load", "50,0,100"}, "malformed load"},
      {{"--load", "50,x"}, "malformed load"},
      {{"--antenna", "dummy", "--load", "50,0"}, "not both"},
      {{"--garbage", "1.5"}, "--garbage wants a number from"},
      {{"--flood", "-1"}, "--flood wants a number"},
      {{"--flood", "10x"}, "--flood wants a number"},
      {{"--unplug-after", "0"}, "--unplug-after wants a number"},
      {{"--seed", "4294967296"}, "--seed wants a number"},
      {{"--delay", "10001"}, "--delay wants a number"},
      {{"--once=yes"}, "--once takes no value"},
  };
  for (const Case& c : cases) {
    try {
      ParseOptions(c.arguments);
      ADD_FAILURE() << "accepted " << c.arguments.front();
    } catch (const std::invalid_argument& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
          << error.what() << " / " << c.message;
    }
  }
}

TEST(SimOptionsTest, HelpDocumentsEveryOptionAndAntenna) {
  const std::string help = HelpText();
  for (const char* option : {"--name", "--antenna", "--load", "--once", "--silent", "--split",
                             "--garbage", "--flood", "--unplug-after", "--seed", "--delay",
                             "--verbose", "--version", "--help", "ORVEL_PORTS_DIR"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  for (const Load& load : BuiltInLoads()) EXPECT_NE(help.find(load.name), std::string::npos);
}

}  // namespace
