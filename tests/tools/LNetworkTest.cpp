// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The matching model against textbook L-network results, computed here independently.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <set>
#include <tuple>

#include "tools/tuner-sim/LNetwork.h"
#include "tools/tuner-sim/StatusFormat.h"

namespace {

struct Ideal {
  int side;
  double microhenry;
  double picofarad;
};

// The exact network for a load: for R below 50 ohms the capacitor goes to the transmitter end,
// otherwise to the antenna end.
Ideal IdealNetwork(const Load& load) {
  const double omega = 2 * std::numbers::pi * load.megahertz * 1e6;
  const double r = load.resistance;
  const double x = load.reactance;
  if (r < 50) {
    const double q = std::sqrt(50 / r - 1);
    const double series = q * r - x;
    const double shunt = 50 / q;
    return {0, series / omega * 1e6, 1 / (omega * shunt) * 1e12};
  }
  const double g = r / (r * r + x * x);
  const double b_load = -x / (r * r + x * x);
  const double b_total = std::sqrt(g / 50 - g * g);
  const double series = b_total / (g * g + b_total * b_total);
  return {1, series / omega * 1e6, (b_total - b_load) / omega * 1e12};
}

TEST(LNetworkTest, ReadsTheMismatchOfABareLoad) {
  struct Case {
    double r, x, swr;
  } cases[] = {{50, 0, 1.0}, {100, 0, 2.0}, {25, 0, 2.0}, {150, 0, 3.0}, {5, 0, 10.0}};
  for (const Case& c : cases) {
    LNetwork network({"bare", c.r, c.x, 14.2});
    EXPECT_NEAR(network.Swr(0, 0, 0), c.swr, 1e-9) << c.r;
    EXPECT_NEAR(network.Swr(0, 0, 1), c.swr, 1e-9) << c.r;
  }
}

TEST(LNetworkTest, BestSettingIsTheTextbookNetworkRoundedToRelaySteps) {
  for (const char* name : {"vertical20", "dipole40", "loop15", "longwire80", "mobile10"}) {
    const Load load = *FindBuiltInLoad(name);
    const Ideal ideal = IdealNetwork(load);
    const Match best = LNetwork(load).Best();
    EXPECT_EQ(best.side, ideal.side) << name;
    // Coarse relay steps at the higher bands move the optimum by a few steps.
    EXPECT_NEAR(best.l_code, ideal.microhenry / LNetwork::kMicrohenryPerStep, 3) << name;
    EXPECT_NEAR(best.c_code, ideal.picofarad / LNetwork::kPicofaradPerStep, 3) << name;
    EXPECT_LT(best.swr, 1.2) << name;
  }
}

TEST(LNetworkTest, NoNeighbouringSettingDoesBetter) {
  for (const Load& load : BuiltInLoads()) {
    LNetwork network(load);
    const Match best = network.Best();
    EXPECT_DOUBLE_EQ(best.swr, network.Swr(best.l_code, best.c_code, best.side));
    for (int dl = -1; dl <= 1; ++dl) {
      for (int dc = -1; dc <= 1; ++dc) {
        int l = best.l_code + dl;
        int c = best.c_code + dc;
        if (l < 0 || l > 255 || c < 0 || c > 255) continue;
        EXPECT_GE(
            network.Swr(static_cast<std::uint8_t>(l), static_cast<std::uint8_t>(c), best.side),
            best.swr - 1e-9)
            << load.name;
      }
    }
  }
}

TEST(LNetworkTest, DifferentAntennasGiveDifferentSettings) {
  std::set<std::tuple<int, int, int>> settings;
  std::set<int> sides;
  for (const Load& load : BuiltInLoads()) {
    const Match best = LNetwork(load).Best();
    settings.insert({best.l_code, best.c_code, best.side});
    sides.insert(best.side);
  }
  EXPECT_EQ(settings.size(), BuiltInLoads().size());
  EXPECT_EQ(sides.size(), 2u);
}

TEST(LNetworkTest, ALoadBeyondTheRelaysStaysMismatched) {
  const Match best = LNetwork(*FindBuiltInLoad("endfed160")).Best();
  EXPECT_EQ(SwrTenths(best.swr), kSwrOutOfRange);
  EXPECT_EQ(best.l_code, 255);
}

TEST(LNetworkTest, SwrTenthsRoundAndMarkReadingsOutOfRange) {
  struct Case {
    double swr;
    int tenths;
  } cases[] = {{1.0, 10},   {1.04, 10}, {1.05, 11},      {1.549, 15}, {9.94, 99},
               {9.95, 255}, {42, 255},  {INFINITY, 255}, {NAN, 255}};
  for (const Case& c : cases) EXPECT_EQ(SwrTenths(c.swr), c.tenths) << c.swr;
  EXPECT_EQ(SwrValue(15), "15");
  EXPECT_EQ(SwrValue(kSwrOutOfRange), "255");
  EXPECT_EQ(BinaryValue(0), "00000000");
  EXPECT_EQ(BinaryValue(0x81), "10000001");
  EXPECT_EQ(BinaryValue(0xFF), "11111111");
}

}  // namespace
