// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Every command line that Orvel writes to the tuner, and the forms in which lines are logged.
// All senders (the main window, the port monitor, the identification reply) take them from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Which way a logged line went.
enum TLogDirection : std::uint8_t { ldSent, ldReceived };

namespace TunerCommands {

// Commands without their terminator; the wire form appends "\r\n".
inline constexpr std::string_view Probe = "ATU?";          // written once per opening, never logged
inline constexpr std::string_view StatusRequest = "????";  // the reply to the identification
inline constexpr std::string_view TuneOn = "TUNE ON";
inline constexpr std::string_view MemoryClear = "CMEM";
inline constexpr std::string_view Query = "???";  // the port monitor's "Send ???"

// The identification line begins with this.
inline constexpr std::string_view Identification = "ATU_KORAX";

inline constexpr int SwrMinLowest = 11;
inline constexpr int SwrMinHighest = 17;

// "SWRmin 11" .. "SWRmin 17": the SWR threshold in tenths.
std::string SwrMin(int tenths);

// The bytes written for a command: the command followed by CR LF.
std::string WireForm(std::string_view command);

// The port monitor's form of a logged line: "- " and a command sent to the tuner without its
// terminator, or "+ " and a line received from the tuner.
std::string LogForm(TLogDirection direction, std::string_view text);

}  // namespace TunerCommands
