// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The simulated tuner's side of the line protocol: it takes command lines, keeps the tuner's
// state and schedules the status lines it sends, driven by a clock that the caller supplies.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tools/tuner-sim/LNetwork.h"
#include "tools/tuner-sim/Load.h"
#include "tools/tuner-sim/StatusFormat.h"

// What the simulated tuner does wrong on purpose.
struct TunerFaults {
  bool silent = false;                 // never answers "ATU?"
  double garbage_rate = 0;             // chance, 0 to 1, of a line of random bytes before a line
  int flood_per_second = 0;            // extra status lines per second; 0 for none
  std::chrono::milliseconds delay{0};  // latency of every answer
};

// What the tuner keeps and reports.
struct TunerState {
  std::uint8_t l_code = 0;
  std::uint8_t c_code = 0;
  int side = 0;
  int swr_tenths = kSwrOutOfRange;
  bool red = false;
  bool green = false;
  bool yellow = false;
  bool pa_control = false;
  int forward = 0;  // ADC reading of the forward power
  int swr_threshold = 15;
  int max_forward = 700;
  int relay_delay = 12;  // milliseconds
  bool tuning = false;
};

class TunerSim {
 public:
  using Millis = std::chrono::milliseconds;

  static constexpr std::size_t kMaxCommandLength = 256;
  static constexpr std::string_view kIdentification = "ATU_KORAX 2.0";
  static constexpr std::string_view kErrorLine = "ERROR";
  static constexpr int kTuningSteps = 16;

  TunerSim(const Load& load, const TunerFaults& faults, std::uint32_t seed);

  // Takes bytes from the line at time `now`; returns the complete command lines found in them.
  std::vector<std::string> Receive(std::string_view bytes, Millis now);

  // The bytes of every line due by `now`, in order, each ending in CR LF.
  std::string Poll(Millis now);

  // When Poll will next have something to send; nothing when no line is waiting.
  std::optional<Millis> NextDue() const;

  const TunerState& State() const { return state_; }
  const Match& BestMatch() const { return best_; }

 private:
  using LineMaker = std::function<std::string(TunerState&)>;

  void Handle(std::string_view line, Millis now);
  void Answer(Millis due, LineMaker make);
  void Report(Millis due);
  void StartTuning(Millis start);
  std::string FloodLine();
  std::string GarbageLine();

  LNetwork network_;
  Match best_;
  TunerFaults faults_;
  std::mt19937 random_;
  TunerState state_;
  std::string input_;
  bool overlong_ = false;
  // Equal times keep the order in which the lines were scheduled.
  std::multimap<Millis, LineMaker> pending_;
  Millis next_flood_{0};
  unsigned flood_index_ = 0;
};
