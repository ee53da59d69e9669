// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Built-in antennas and the parsing of a load given on the command line.
#include "tools/tuner-sim/Load.h"

#include <charconv>
#include <cmath>

namespace {

std::optional<double> ParseNumber(std::string_view text) {
  double value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end || !std::isfinite(value)) return {};
  return value;
}

}  // namespace

const std::vector<Load>& BuiltInLoads() {
  // Typical feed-point impedances: some the network matches well, some only roughly, and one
  // beyond its range, so that every lamp and both network sides can be seen.
  static const std::vector<Load> loads = {
      {"vertical20", 22, -35, 14.2}, {"dipole40", 68, 24, 7.1},   {"loop15", 115, -60, 21.2},
      {"longwire80", 420, 380, 3.6}, {"mobile10", 9, -140, 28.5}, {"endfed160", 2600, -1900, 1.85},
      {"dummy", 50, 0, 14.2},
  };
  return loads;
}

std::optional<Load> FindBuiltInLoad(std::string_view name) {
  for (const Load& load : BuiltInLoads()) {
    if (load.name == name) return load;
  }
  return {};
}

std::optional<Load> ParseLoad(std::string_view text) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (std::size_t comma; (comma = text.find(',', start)) != std::string_view::npos;
       start = comma + 1) {
    fields.push_back(text.substr(start, comma - start));
  }
  fields.push_back(text.substr(start));
  if (fields.size() != 2 && fields.size() != 3) return {};

  Load load;
  load.name = std::string(text);
  auto resistance = ParseNumber(fields[0]);
  auto reactance = ParseNumber(fields[1]);
  if (!resistance || !reactance || *resistance <= 0) return {};
  load.resistance = *resistance;
  load.reactance = *reactance;
  if (fields.size() == 3) {
    auto megahertz = ParseNumber(fields[2]);
    if (!megahertz || *megahertz < 1 || *megahertz > 60) return {};
    load.megahertz = *megahertz;
  }
  return load;
}
