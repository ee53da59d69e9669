// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Figures for the serial port component on a pseudo-terminal: CPU time of an idle open port,
// latency from a byte on the wire to OnReceive, and how long Close takes.
// Usage: bench_serial [lines] (default 1000 lines for the latency figure).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "FakeUiThread.h"
#include "PortsDirectoryFixture.h"
#include "PseudoTerminal.h"
#include "SerialPort.h"

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint32_t SystemDelay = 100;

double Milliseconds(TClock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * double(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

void OpenPort(TSerialPort& port, TFakeUiThread& ui) {
  port.SetUiHandOver(&ui);
  port.SetPort(spCOM7);
  port.SetDelay(SystemDelay);
  port.SetBaudRate(br009600);
  port.Open();
}

void IdleCpu(const TPseudoTerminal&) {
  TFakeUiThread ui;
  TSerialPort port;
  OpenPort(port, ui);
  // Nothing arrives, so no event is handed over: the main thread may simply sleep, and the
  // process's CPU time is the receive thread's, presence test included.
  const double cpuBefore = ProcessCpuSeconds();
  const TClock::time_point start = TClock::now();
  std::this_thread::sleep_for(10s);
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const double wall = std::chrono::duration<double>(TClock::now() - start).count();
  std::printf(
      "idle open port, Delay %u, %.1f s: CPU %.4f s = %.3f%% of one core (target < 0.3%%)\n",
      SystemDelay, wall, cpu, 100.0 * cpu / wall);
  port.Close();
}

void ListingCost() {
  TSerialPort port;
  constexpr int Calls = 2000;
  const double cpuBefore = ProcessCpuSeconds();
  const TClock::time_point start = TClock::now();
  int listed = 0;
  for (int call = 0; call < Calls; ++call) listed += port.IsPortListed("COM7") ? 1 : 0;
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  std::printf(
      "presence test (whole port list): %.1f us wall, %.1f us CPU per call (%d of %d "
      "found)\n",
      Milliseconds(TClock::now() - start) * 1000.0 / Calls, cpu * 1e6 / Calls, listed, Calls);
}

void ReceiveLatency(TPseudoTerminal& terminal, int lines) {
  TFakeUiThread ui;
  TSerialPort port;
  TClock::time_point arrived;
  int received = 0;
  port.OnReceive = [&](TSerialPort*, const std::string&) {
    arrived = TClock::now();
    ++received;
  };
  OpenPort(port, ui);
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> phase(0, SystemDelay);
  std::vector<double> latencies;
  for (int line = 0; line < lines; ++line) {
    // Lines come at any moment of the receive thread's pause.
    ui.WaitUntil([] { return false; }, std::chrono::milliseconds(phase(random)));
    const int before = received;
    const TClock::time_point sent = TClock::now();
    terminal.Write("SWR: 15\r\n");
    if (!ui.WaitUntil([&] { return received > before; }, 5s)) {
      std::printf("line %d never arrived\n", line);
      return;
    }
    latencies.push_back(Milliseconds(arrived - sent));
  }
  std::printf(
      "write to OnReceive, Delay %u, %d lines: median %.2f ms, 99th percentile %.2f ms, "
      "max %.2f ms (target p99 <= %u ms)\n",
      SystemDelay, lines, Percentile(latencies, 0.5), Percentile(latencies, 0.99),
      Percentile(latencies, 1.0), SystemDelay + 2);
  port.Close();
}

void CloseDurations(TPseudoTerminal& terminal) {
  constexpr int Rounds = 50;
  std::vector<double> fromUi;
  std::vector<double> fromHandler;
  std::vector<double> handlerUntilReleased;
  for (int round = 0; round < Rounds; ++round) {
    TFakeUiThread ui;
    TSerialPort port;
    int disconnects = 0;
    port.OnDisconnect = [&](TSerialPort*, TCommPort) { ++disconnects; };
    OpenPort(port, ui);
    // Let the receive thread reach a pause at any point of it.
    ui.WaitUntil([] { return false; },
                 std::chrono::milliseconds(static_cast<std::uint32_t>(round) * 2 % SystemDelay));
    const TClock::time_point start = TClock::now();
    port.Close();
    fromUi.push_back(Milliseconds(TClock::now() - start));
    if (disconnects != 1) std::printf("Close from the user-interface thread lost OnDisconnect\n");
  }
  for (int round = 0; round < Rounds; ++round) {
    TFakeUiThread ui;
    TSerialPort port;
    TClock::time_point closed;
    bool done = false;
    port.OnReceive = [&](TSerialPort* sender, const std::string&) {
      const TClock::time_point start = TClock::now();
      sender->Close();
      closed = TClock::now();
      fromHandler.push_back(Milliseconds(closed - start));
      done = true;
    };
    OpenPort(port, ui);
    terminal.Write("x");
    ui.WaitUntil([&] { return done && port.ConnectedPort() == spNone; }, 10s);
    handlerUntilReleased.push_back(Milliseconds(TClock::now() - closed));
  }
  std::printf(
      "Close from the user-interface thread, Delay %u, %d rounds: median %.2f ms, "
      "max %.2f ms (target <= %u ms)\n",
      SystemDelay, Rounds, Percentile(fromUi, 0.5), Percentile(fromUi, 1.0), SystemDelay + 20);
  std::printf(
      "Close from inside OnReceive, %d rounds: median %.3f ms, max %.3f ms; device "
      "released after the handler: median %.2f ms, max %.2f ms (target <= %u ms)\n",
      Rounds, Percentile(fromHandler, 0.5), Percentile(fromHandler, 1.0),
      Percentile(handlerUntilReleased, 0.5), Percentile(handlerUntilReleased, 1.0),
      SystemDelay + 20);
}

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  TPortsDirectoryFixture directory;
  TPseudoTerminal terminal;
  directory.Link("COM7", terminal.SlavePath());
  ListingCost();
  IdleCpu(terminal);
  CloseDurations(terminal);
  ReceiveLatency(terminal, lines);
  return 0;
}
