// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The output splitter of --split: nothing lost, nothing added, and the awkward cuts happen.
#include <gtest/gtest.h>

#include <string>

#include "tools/tuner-sim/ChunkSplitter.h"

namespace {

std::string SampleOutput() {
  std::string out;
  for (int i = 0; i < 60; ++i) {
    out += "SWR: " + std::to_string(10 + i % 90) + "\r\nPort L: 0101010" + std::to_string(i % 2) +
           "\r\n";
  }
  out += std::string("\0\x80\r\r\n\n", 6);
  return out;
}

TEST(ChunkSplitterTest, JoiningTheChunksGivesTheOriginalBytes) {
  const std::string out = SampleOutput();
  for (std::uint32_t seed : {0u, 1u, 7u, 12345u, 4000000000u}) {
    ChunkSplitter splitter(seed);
    std::string joined;
    for (const std::string& chunk : splitter.Split(out)) {
      EXPECT_GE(chunk.size(), 1u);
      EXPECT_LE(chunk.size(), ChunkSplitter::kMaxChunk);
      joined += chunk;
    }
    EXPECT_EQ(joined, out) << "seed " << seed;
  }
}

TEST(ChunkSplitterTest, CutsBetweenCarriageReturnAndLineFeedAndSendsLoneCarriageReturns) {
  for (std::uint32_t seed : {0u, 1u, 7u, 12345u}) {
    ChunkSplitter splitter(seed);
    auto chunks = splitter.Split(SampleOutput());
    int split_line_ends = 0;
    int lone_carriage_returns = 0;
    for (std::size_t i = 0; i + 1 < chunks.size(); ++i) {
      if (chunks[i].back() == '\r' && chunks[i + 1].front() == '\n') ++split_line_ends;
      if (chunks[i] == "\r") ++lone_carriage_returns;
    }
    EXPECT_GT(split_line_ends, 5) << "seed " << seed;
    EXPECT_GT(lone_carriage_returns, 5) << "seed " << seed;
  }
}

TEST(ChunkSplitterTest, TheSameSeedCutsTheSameWay) {
  EXPECT_EQ(ChunkSplitter(99).Split(SampleOutput()), ChunkSplitter(99).Split(SampleOutput()));
  EXPECT_NE(ChunkSplitter(99).Split(SampleOutput()), ChunkSplitter(100).Split(SampleOutput()));
  EXPECT_TRUE(ChunkSplitter(1).Split("").empty());
}

}  // namespace
