// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The tuner line protocol's receiving side.
#include "protocol/TunerProtocol.h"

#include <array>
#include <charconv>
#include <exception>
#include <locale>

#include "protocol/TunerCommands.h"
#include "text/AsciiText.h"

namespace {

bool IsOn(std::string_view value) {
  return value == "ON";
}

// A whole decimal integer with an optional sign, nothing else.
bool ParseInteger(std::string_view text, int& value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && ptr == end;
}

// The general number format with up to 15 significant digits, as the tuner's operators are
// used to seeing it: no exponent for these magnitudes, no trailing zeros.
std::string FormatNumber(double value, char decimalSeparator) {
  std::array<char, 64> buffer{};
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::general, 15);
  std::string text(buffer.data(), error == std::errc() ? end : buffer.data());
  for (char& c : text) {
    if (c == '.') c = decimalSeparator;
  }
  return text;
}

// The eight relay bits of an L or C code, most significant first; each digit d at position i
// (1..8) adds d * weight * 2^(8-i). The products are formed in extended precision so that the
// sums of the binary codes come out exactly as the decimal values printed on the tuner.
bool CodeTotal(std::string_view value, long double weight, double& total) {
  std::string code = "00000000";
  code += TrimControls(value);
  std::string_view digits(code);
  digits.remove_prefix(digits.size() - 8);
  total = 0;
  for (int i = 8; i >= 1; --i) {
    char c = digits[static_cast<std::size_t>(i - 1)];
    if (c < '0' || c > '9') return false;
    long double term =
        static_cast<long double>(c - '0') * weight * static_cast<long double>(1 << (8 - i));
    total = static_cast<double>(total + term);
  }
  return true;
}

std::string MeasuredText(std::string_view value, long double weight, char decimalSeparator,
                         std::string_view unit) {
  double total = 0;
  if (!CodeTotal(value, weight, total)) return {};
  return FormatNumber(total, decimalSeparator) + std::string(unit);
}

enum class TStatusField {
  TuneDown,
  Red,
  Green,
  Yellow,
  SwrMin,
  ForwardPower,
  Inductance,
  Capacitance,
  Swr,
  Network
};

struct TStatusRule {
  std::string_view Prefix;
  std::size_t ValueLength;
  TStatusField Field;
};

// No line can begin with two of these prefixes.
constexpr std::array<TStatusRule, 14> kStatusRules = {{
    {"PA_CTRL ", 2, TStatusField::TuneDown},
    {"RED: ", 2, TStatusField::Red},
    {"GREEN: ", 2, TStatusField::Green},
    {"YELLOW: ", 2, TStatusField::Yellow},
    {"SWRmin: ", 2, TStatusField::SwrMin},
    {"FWD: ", 5, TStatusField::ForwardPower},
    {"END_L: ", 9, TStatusField::Inductance},
    {"Port L:", 9, TStatusField::Inductance},
    {"END_C: ", 9, TStatusField::Capacitance},
    {"Port C:", 9, TStatusField::Capacitance},
    {"END_SWR: ", 5, TStatusField::Swr},
    {"SWR: ", 5, TStatusField::Swr},
    {"K: ", 1, TStatusField::Network},
    {"END_K: ", 1, TStatusField::Network},
}};

constexpr long double kInductanceWeight = 0.04L;  // microhenry per step of the smallest coil
constexpr long double kCapacitanceWeight = 5.0L;  // picofarad per step of the smallest capacitor

}  // namespace

TTunerProtocol::TTunerProtocol(TTunerHost& host, char decimalSeparator)
    : host_(host), decimalSeparator_(decimalSeparator) {}

char TTunerProtocol::UserDecimalSeparator() {
  try {
    char separator = std::use_facet<std::numpunct<char>>(std::locale("")).decimal_point();
    // A separator that takes more than one byte cannot be held here.
    if (separator > 32 && separator < 127) return separator;
  } catch (const std::exception&) {
    // An unknown locale in the environment: fall back to the point.
  }
  return '.';
}

void TTunerProtocol::ResetFraming() {
  pending_.clear();
  skipLineFeed_ = false;
  ++framingGeneration_;
}

void TTunerProtocol::Receive(std::string_view chunk) {
  const std::uint64_t generation = framingGeneration_;
  std::string line = std::move(pending_);
  pending_.clear();
  bool skipLineFeed = skipLineFeed_;

  std::size_t pos = 0;
  while (pos < chunk.size()) {
    if (skipLineFeed) {
      skipLineFeed = false;
      if (chunk[pos] == '\n') {
        ++pos;
        continue;
      }
    }
    const std::size_t cr = chunk.find('\r', pos);
    const std::size_t stop = cr == std::string_view::npos ? chunk.size() : cr;
    // Take the bytes up to the terminator, handling a run too long for one line in pieces.
    while (pos < stop) {
      if (line.size() == MaxLineLength) {
        HandleLine(line);
        line.clear();
      }
      const std::size_t take = std::min(stop - pos, MaxLineLength - line.size());
      line.append(chunk.substr(pos, take));
      pos += take;
    }
    if (cr == std::string_view::npos) break;
    ++pos;
    skipLineFeed = true;
    HandleLine(line);
    line.clear();
  }

  // A port opened while this chunk was handled starts afresh: keep nothing of the old one.
  if (generation == framingGeneration_) {
    pending_ = std::move(line);
    skipLineFeed_ = skipLineFeed;
  }
}

void TTunerProtocol::HandleLine(const std::string& line) {
  host_.LogLine(ldReceived, line);
  if (line.empty()) return;
  if (std::string_view(line).starts_with(TunerCommands::Identification)) Identify();
  if (atuConnected_) ApplyStatusLine(line);
  host_.ProcessPendingEvents();
}

void TTunerProtocol::Identify() {
  atuConnected_ = true;
  host_.SetOpenPortCaption("ATU conn");
  host_.StopProbe();
  try {
    Send(TunerCommands::StatusRequest);
  } catch (const std::exception&) {
    // The port was closed meanwhile: the state above stands, the rest of the chunk is still
    // handled, and the operator has nothing to act on.
  }
}

void TTunerProtocol::Send(std::string_view command) {
  host_.WriteCommand(TunerCommands::WireForm(command));
  host_.LogLine(ldSent, command);
}

std::string TTunerProtocol::SwrText(std::string_view value) {
  if (value == "255") return "???";
  if (value.empty()) return {};
  if (value.size() == 2) return {value[0], '.', value[1]};
  return {value[0], '.', '0'};
}

std::string TTunerProtocol::InductanceText(std::string_view value, char decimalSeparator) {
  return MeasuredText(value, kInductanceWeight, decimalSeparator, " \xB5H");
}

std::string TTunerProtocol::CapacitanceText(std::string_view value, char decimalSeparator) {
  return MeasuredText(value, kCapacitanceWeight, decimalSeparator, " pF");
}

void TTunerProtocol::ApplyStatusLine(std::string_view line) {
  for (const TStatusRule& rule : kStatusRules) {
    if (!line.starts_with(rule.Prefix)) continue;
    const std::string_view value = line.substr(rule.Prefix.size(), rule.ValueLength);
    switch (rule.Field) {
      case TStatusField::TuneDown:
        host_.SetTuneDown(IsOn(value));
        break;
      case TStatusField::Red:
        host_.SetRedLamp(IsOn(value));
        break;
      case TStatusField::Green:
        host_.SetGreenLamp(IsOn(value));
        break;
      case TStatusField::Yellow:
        host_.SetYellowLamp(IsOn(value));
        break;
      case TStatusField::SwrMin: {
        int tenths = 0;
        if (ParseInteger(value, tenths) && tenths >= TunerCommands::SwrMinLowest &&
            tenths <= TunerCommands::SwrMinHighest) {
          host_.CheckSwrMin(tenths);
        }
        break;
      }
      case TStatusField::ForwardPower:
        host_.SetForwardPowerText(std::string(value));
        break;
      case TStatusField::Inductance:
        host_.SetInductanceText(InductanceText(value, decimalSeparator_));
        break;
      case TStatusField::Capacitance:
        host_.SetCapacitanceText(CapacitanceText(value, decimalSeparator_));
        break;
      case TStatusField::Swr:
        host_.SetSwrText(SwrText(value));
        break;
      case TStatusField::Network:
        host_.ShowNetworkPicture(value == "0" ? 0 : 1);
        break;
    }
    return;
  }
}
