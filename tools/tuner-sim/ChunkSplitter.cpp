// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Random cuts of the output stream, with cuts at line ends favoured.
#include "tools/tuner-sim/ChunkSplitter.h"

ChunkSplitter::ChunkSplitter(std::uint32_t seed) : random_(seed) {}

std::vector<std::string> ChunkSplitter::Split(std::string_view bytes) {
  std::vector<std::string> chunks;
  std::uniform_int_distribution<std::size_t> size(1, kMaxChunk);
  std::uniform_int_distribution<int> percent(0, 99);
  std::string chunk;
  std::size_t target = size(random_);
  auto flush = [&] {
    if (chunk.empty()) return;
    chunks.push_back(std::move(chunk));
    chunk.clear();
    target = size(random_);
  };
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\r' && percent(random_) < 25) {
      flush();
      chunks.emplace_back(1, '\r');
      continue;
    }
    chunk += c;
    const bool before_line_feed = c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
    if (chunk.size() >= target || (before_line_feed && percent(random_) < 50)) flush();
  }
  flush();
  return chunks;
}
