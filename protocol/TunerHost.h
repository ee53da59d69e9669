// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// What the tuner line protocol needs from its surroundings: the main window implements it,
// tests and the fuzzer give their own.
#pragma once

#include <string>
#include <string_view>

#include "protocol/TunerCommands.h"

class TTunerHost {
 public:
  virtual ~TTunerHost() = default;

  // Writes the bytes unchanged to the serial port; throws when the port is not open or the
  // bytes did not all go out.
  virtual void WriteCommand(const std::string& text) = 0;
  // Logs a command sent (without its terminator) or a line received in the port monitor.
  virtual void LogLine(TLogDirection direction, std::string_view text) = 0;
  // Lets pending user-interface events (repaints, clicks, timer ticks) run once.
  virtual void ProcessPendingEvents() = 0;

  // The display values. Texts are Windows-1252 bytes.
  virtual void SetSwrText(const std::string& text) = 0;           // Label3
  virtual void SetInductanceText(const std::string& text) = 0;    // Label4
  virtual void SetCapacitanceText(const std::string& text) = 0;   // Label8
  virtual void SetForwardPowerText(const std::string& text) = 0;  // Label7
  virtual void SetRedLamp(bool lit) = 0;                          // RedLed
  virtual void SetGreenLamp(bool lit) = 0;                        // GreenLED
  virtual void SetYellowLamp(bool lit) = 0;                       // YellowLED
  virtual void SetTuneDown(bool down) = 0;                        // tune1
  // Checks the SWR threshold item 11..17 (SWR11..SWR17) and unchecks the six others.
  virtual void CheckSwrMin(int tenths) = 0;
  // Shows Image0 (capacitor at the left terminal) or Image1 and hides the other.
  virtual void ShowNetworkPicture(int picture) = 0;
  // The identification: "ATU conn" on openport, Timer1 disabled, ProbeTicks := 0.
  virtual void SetOpenPortCaption(const std::string& caption) = 0;
  virtual void StopProbe() = 0;
};
