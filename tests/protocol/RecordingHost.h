// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A tuner host for tests: records what the protocol writes, logs and shows.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/TunerHost.h"

struct TDisplayState {
  std::string Swr = "<unset>", Inductance = "<unset>", Capacitance = "<unset>",
              ForwardPower = "<unset>";
  bool Red = false, Green = false, Yellow = false, TuneDown = false;
  int SwrMin = 0;    // 0: no item checked yet
  int Picture = -1;  // -1: both hidden
  std::string OpenPortCaption = "Open Port";
  int ProbeStops = 0;
  bool operator==(const TDisplayState&) const = default;
};

class TRecordingHost : public TTunerHost {
 public:
  std::vector<std::string> Log;
  std::vector<std::string> Written;
  TDisplayState State;
  bool PortOpen = true;
  std::function<void()> OnEvents;  // runs where the user-interface events would run

  void WriteCommand(const std::string& text) override {
    if (!PortOpen) throw std::runtime_error("COM3 is not open. Serial port is not connected.");
    Written.push_back(text);
  }
  void LogLine(TLogDirection direction, std::string_view text) override {
    Log.push_back(TunerCommands::LogForm(direction, text));
  }
  void ProcessPendingEvents() override {
    if (OnEvents) OnEvents();
  }
  void SetSwrText(const std::string& text) override { State.Swr = text; }
  void SetInductanceText(const std::string& text) override { State.Inductance = text; }
  void SetCapacitanceText(const std::string& text) override { State.Capacitance = text; }
  void SetForwardPowerText(const std::string& text) override { State.ForwardPower = text; }
  void SetRedLamp(bool lit) override { State.Red = lit; }
  void SetGreenLamp(bool lit) override { State.Green = lit; }
  void SetYellowLamp(bool lit) override { State.Yellow = lit; }
  void SetTuneDown(bool down) override { State.TuneDown = down; }
  void CheckSwrMin(int tenths) override { State.SwrMin = tenths; }
  void ShowNetworkPicture(int picture) override { State.Picture = picture; }
  void SetOpenPortCaption(const std::string& caption) override { State.OpenPortCaption = caption; }
  void StopProbe() override { ++State.ProbeStops; }
};
