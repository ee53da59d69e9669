// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Fuzzes the tuner line protocol with random chunks at random boundaries.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "protocol/TunerHost.h"
#include "protocol/TunerProtocol.h"

namespace {

// Checks what the protocol must never do, whatever the tuner sends.
class TCheckingHost : public TTunerHost {
 public:
  bool PortOpen = true;
  void WriteCommand(const std::string& text) override {
    if (!PortOpen) throw std::runtime_error("not open");
    if (text != "????\r\n") __builtin_trap();
  }
  void LogLine(TLogDirection direction, std::string_view text) override {
    if (direction == ldSent && text != "????") __builtin_trap();
    if (text.size() > TTunerProtocol::MaxLineLength) __builtin_trap();
    if (text.find('\r') != std::string_view::npos) __builtin_trap();
  }
  void ProcessPendingEvents() override {}
  void SetSwrText(const std::string& text) override {
    if (text.size() > 3) __builtin_trap();
  }
  void SetInductanceText(const std::string&) override {}
  void SetCapacitanceText(const std::string&) override {}
  void SetForwardPowerText(const std::string& text) override {
    if (text.size() > 5) __builtin_trap();
  }
  void SetRedLamp(bool) override {}
  void SetGreenLamp(bool) override {}
  void SetYellowLamp(bool) override {}
  void SetTuneDown(bool) override {}
  void CheckSwrMin(int tenths) override {
    if (tenths < 11 || tenths > 17) __builtin_trap();
  }
  void ShowNetworkPicture(int picture) override {
    if (picture != 0 && picture != 1) __builtin_trap();
  }
  void SetOpenPortCaption(const std::string&) override {}
  void StopProbe() override {}
};

}  // namespace

// The first bytes choose the chunk lengths; the rest is the stream.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  TCheckingHost host;
  TTunerProtocol protocol(host, data[0] & 1 ? ',' : '.');
  host.PortOpen = (data[0] & 2) == 0;
  const std::uint8_t* cuts = data + 1;
  const std::size_t cutCount = 3;
  std::string_view stream(reinterpret_cast<const char*>(data + 4), size - 4);
  std::size_t pos = 0;
  std::size_t round = 0;
  while (pos < stream.size()) {
    std::size_t length = 1 + cuts[round++ % cutCount];
    protocol.Receive(stream.substr(pos, length));
    pos += length;
    if (data[0] & 4 && round % 7 == 0) protocol.ResetFraming();
  }
  return 0;
}
