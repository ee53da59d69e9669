// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The simulated tuner's protocol: identification, status report, tuning cycle, settings.
#include "tools/tuner-sim/TunerSim.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

std::string OnOff(bool on) {
  return on ? "ON" : "OFF";
}

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlankOrControl(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrControl(text.back())) text.remove_suffix(1);
  return text;
}

// `text` read as a number in `base` when it is 1 to `max_digits` digits of that base.
std::optional<int> ParseCode(std::string_view text, std::size_t max_digits, int base) {
  if (text.empty() || text.size() > max_digits) return {};
  int value = 0;
  for (char c : text) {
    if (c < '0' || c >= '0' + base) return {};
    value = value * base + (c - '0');
  }
  return value;
}

}  // namespace

TunerSim::TunerSim(const Load& load, const TunerFaults& faults, std::uint32_t seed)
    : network_(load), best_(network_.Best()), faults_(faults), random_(seed) {
  faults_.garbage_rate = std::clamp(faults_.garbage_rate, 0.0, 1.0);
  faults_.flood_per_second = std::clamp(faults_.flood_per_second, 0, 1000);
}

std::vector<std::string> TunerSim::Receive(std::string_view bytes, Millis now) {
  std::vector<std::string> lines;
  for (char c : bytes) {
    if (c == '\r' || c == '\n') {
      if (overlong_) {
        // A command this long is noise on the line; refuse it as a whole rather than act on a
        // fragment of it.
        Answer(now + faults_.delay, [](TunerState&) { return std::string(kErrorLine); });
        overlong_ = false;
      } else if (!input_.empty()) {
        lines.push_back(input_);
        Handle(input_, now);
      }
      input_.clear();
    } else if (overlong_) {
      continue;
    } else if (input_.size() < kMaxCommandLength) {
      input_ += c;
    } else {
      overlong_ = true;
      input_.clear();
    }
  }
  return lines;
}

std::string TunerSim::Poll(Millis now) {
  const Millis flood_period(faults_.flood_per_second > 0 ? 1000 / faults_.flood_per_second : 0);
  std::string out;
  for (;;) {
    bool line_due = !pending_.empty() && pending_.begin()->first <= now;
    bool flood_due = faults_.flood_per_second > 0 && next_flood_ <= now;
    if (!line_due && !flood_due) break;
    std::string line;
    if (line_due && (!flood_due || pending_.begin()->first <= next_flood_)) {
      auto node = pending_.extract(pending_.begin());
      line = node.mapped()(state_);
    } else {
      line = FloodLine();
      next_flood_ += std::max(flood_period, Millis(1));
      // After a stall, go on at the set rate instead of sending the missed lines in a burst.
      if (next_flood_ + std::chrono::seconds(1) < now) next_flood_ = now;
    }
    if (faults_.garbage_rate > 0 &&
        std::uniform_real_distribution<double>(0, 1)(random_) < faults_.garbage_rate) {
      out += GarbageLine();
    }
    out += line;
    out += "\r\n";
  }
  return out;
}

std::optional<TunerSim::Millis> TunerSim::NextDue() const {
  std::optional<Millis> due;
  if (!pending_.empty()) due = pending_.begin()->first;
  if (faults_.flood_per_second > 0 && (!due || next_flood_ < *due)) due = next_flood_;
  return due;
}

void TunerSim::Answer(Millis due, LineMaker make) {
  pending_.emplace(due, std::move(make));
}

void TunerSim::Handle(std::string_view received, Millis now) {
  const Millis due = now + faults_.delay;
  const std::string_view line = Trimmed(received);
  const std::size_t blank = line.find(' ');
  const std::string_view word = line.substr(0, blank);
  const std::string_view argument =
      blank == std::string_view::npos ? std::string_view() : Trimmed(line.substr(blank));
  auto error = [&] { Answer(due, [](TunerState&) { return std::string(kErrorLine); }); };

  if (line == "ATU?") {
    if (!faults_.silent) Answer(due, [](TunerState&) { return std::string(kIdentification); });
  } else if (line == "????") {
    Report(due);
  } else if (line == "TUNE ON") {
    // A second start while the relays still step is ignored, as the running cycle answers it.
    if (!state_.tuning) StartTuning(due);
  } else if (line == "CMEM") {
    state_.l_code = 0;
    state_.c_code = 0;
    state_.side = 0;
    state_.swr_tenths = kSwrOutOfRange;
    state_.red = false;
    state_.green = false;
  } else if (word == "SWRmin") {
    auto value = ParseCode(argument, 2, 10);
    if (argument != "?" && (!value || argument.size() != 2 || *value < 11 || *value > 17)) {
      return error();
    }
    if (value) state_.swr_threshold = *value;
    Answer(due, [](TunerState& s) { return "SWRmin: " + ZeroPadded(s.swr_threshold, 2); });
  } else if (word == "Port_L" || word == "Port_C") {
    const bool inductor = word == "Port_L";
    auto value = ParseCode(argument, 8, 2);
    if (argument != "?" && !value) return error();
    if (value) (inductor ? state_.l_code : state_.c_code) = static_cast<std::uint8_t>(*value);
    Answer(due, [inductor](TunerState& s) {
      return inductor ? "Port L: " + BinaryValue(s.l_code) : "Port C: " + BinaryValue(s.c_code);
    });
  } else if (word == "MaxFWD") {
    auto value = ParseCode(argument, 3, 10);
    if (argument != "?" && !value) return error();
    if (value) state_.max_forward = *value;
    Answer(due, [](TunerState& s) { return "MaxFWD: " + ZeroPadded(s.max_forward, 3); });
  } else if (word == "RDelay") {
    auto value = ParseCode(argument, 2, 10);
    if (argument != "?" && !value) return error();
    if (value) state_.relay_delay = *value;
    Answer(due, [](TunerState& s) { return "RDelay: " + ZeroPadded(s.relay_delay, 2); });
  } else {
    error();
  }
}

void TunerSim::Report(Millis due) {
  Answer(due, [](TunerState& s) { return "SWR: " + SwrValue(s.swr_tenths); });
  Answer(due, [](TunerState& s) { return "Port L: " + BinaryValue(s.l_code); });
  Answer(due, [](TunerState& s) { return "Port C: " + BinaryValue(s.c_code); });
  Answer(due, [](TunerState& s) { return "K: " + std::to_string(s.side); });
  Answer(due, [](TunerState& s) { return "RED: " + OnOff(s.red); });
  Answer(due, [](TunerState& s) { return "GREEN: " + OnOff(s.green); });
  Answer(due, [](TunerState& s) { return "YELLOW: " + OnOff(s.yellow); });
  Answer(due, [](TunerState& s) { return "SWRmin: " + ZeroPadded(s.swr_threshold, 2); });
  Answer(due, [](TunerState& s) { return "PA_CTRL " + OnOff(s.pa_control); });
  Answer(due, [](TunerState& s) { return "FWD: " + ZeroPadded(s.forward, 3); });
}

void TunerSim::StartTuning(Millis start) {
  state_.tuning = true;
  Millis at = start;
  Answer(at, [](TunerState& s) {
    s.pa_control = true;
    return std::string("PA_CTRL ON");
  });
  Answer(at, [](TunerState& s) {
    s.yellow = true;
    return std::string("YELLOW: ON");
  });
  Answer(at, [](TunerState& s) {
    s.green = false;
    return std::string("GREEN: OFF");
  });
  Answer(at, [](TunerState& s) {
    s.red = false;
    return std::string("RED: OFF");
  });

  // The relays step from nothing towards the best setting; the reading shown never rises, as
  // the tuner keeps the best reading of its search.
  const Millis step(150 + state_.relay_delay);
  const Match best = best_;
  double shown = std::numeric_limits<double>::infinity();
  for (int i = 1; i <= kTuningSteps; ++i) {
    at += step;
    auto l = static_cast<std::uint8_t>(std::lround(double(best.l_code) * i / kTuningSteps));
    auto c = static_cast<std::uint8_t>(std::lround(double(best.c_code) * i / kTuningSteps));
    shown = std::min(shown, std::max(network_.Swr(l, c, best.side), best.swr));
    const int tenths = SwrTenths(shown);
    const int forward = std::uniform_int_distribution<int>(470, 530)(random_);
    Answer(at, [forward](TunerState& s) {
      s.forward = forward;
      return "FWD: " + ZeroPadded(forward, 3);
    });
    Answer(at, [tenths](TunerState& s) {
      s.swr_tenths = tenths;
      return "SWR: " + SwrValue(tenths);
    });
    if (i == 1) {
      Answer(at, [side = best.side](TunerState& s) {
        s.side = side;
        return "K: " + std::to_string(side);
      });
    }
    Answer(at, [l](TunerState& s) {
      s.l_code = l;
      return "Port L: " + BinaryValue(l);
    });
    Answer(at, [c](TunerState& s) {
      s.c_code = c;
      return "Port C: " + BinaryValue(c);
    });
  }

  at += step;
  const int final_tenths = SwrTenths(best.swr);
  Answer(at, [](TunerState& s) { return "END_L: " + BinaryValue(s.l_code); });
  Answer(at, [](TunerState& s) { return "END_C: " + BinaryValue(s.c_code); });
  Answer(at, [final_tenths](TunerState& s) {
    s.swr_tenths = final_tenths;
    return "END_SWR: " + SwrValue(final_tenths);
  });
  Answer(at, [](TunerState& s) { return "END_K: " + std::to_string(s.side); });
  Answer(at, [](TunerState& s) {
    s.yellow = false;
    return std::string("YELLOW: OFF");
  });
  // The threshold in force when the cycle ends decides, so a change during the cycle counts.
  Answer(at, [final_tenths](TunerState& s) {
    s.green = final_tenths <= s.swr_threshold;
    s.red = !s.green;
    return s.green ? std::string("GREEN: ON") : std::string("RED: ON");
  });
  Answer(at, [](TunerState& s) {
    s.forward = 0;
    return std::string("FWD: 000");
  });
  Answer(at, [](TunerState& s) {
    s.pa_control = false;
    s.tuning = false;
    return std::string("PA_CTRL OFF");
  });
}

std::string TunerSim::FloodLine() {
  const TunerState& s = state_;
  switch (flood_index_++ % 8) {
    case 0:
      return "SWR: " + SwrValue(s.swr_tenths);
    case 1:
      return "FWD: " + ZeroPadded(s.forward, 3);
    case 2:
      return "Port L: " + BinaryValue(s.l_code);
    case 3:
      return "Port C: " + BinaryValue(s.c_code);
    case 4:
      return "K: " + std::to_string(s.side);
    case 5:
      return "YELLOW: " + OnOff(s.yellow);
    case 6:
      return "RED: " + OnOff(s.red);
    default:
      return "GREEN: " + OnOff(s.green);
  }
}

std::string TunerSim::GarbageLine() {
  // Begins with a byte above 7F so that it can never pass for a status line or the
  // identification, and holds no CR or LF, so that every reader sees exactly one line.
  std::uniform_int_distribution<int> length(1, 16);
  std::uniform_int_distribution<int> high(0x80, 0xFF);
  std::uniform_int_distribution<int> any(0, 0xFF);
  std::string junk(1, static_cast<char>(high(random_)));
  for (int n = length(random_); n > 1;) {
    const char c = static_cast<char>(any(random_));
    if (c == '\r' || c == '\n') continue;
    junk += c;
    --n;
  }
  return junk + "\r\n";
}
