// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Cuts the tuner's output into random pieces, as a slow or bursty serial line delivers it.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

class ChunkSplitter {
 public:
  static constexpr std::size_t kMaxChunk = 16;

  explicit ChunkSplitter(std::uint32_t seed);

  // Pieces of 1 to kMaxChunk bytes that join up to `bytes` again. Some pieces end between a CR
  // and its LF, and some are a CR on its own, as these are the cuts a receiver gets wrong.
  std::vector<std::string> Split(std::string_view bytes);

 private:
  std::mt19937 random_;
};
