// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Figures for the serial port component on a pseudo-terminal: CPU time of an idle open port,
// the receive thread's wake-ups on an idle device with modem lines and on one without,
// latency from a byte on the wire to OnReceive (from idle and under steady traffic), how long
// Close takes, and how long writes to an other end that reads nothing hold the caller.
// Usage: bench_serial [lines] (default 1000 lines for the latency figure).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "tests/serial/FakeSerialPlatform.h"
#include "tests/serial/FakeUiThread.h"
#include "tests/serial/PortsDirectoryFixture.h"
#include "tools/tuner-sim/PseudoTerminal.h"

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint32_t SystemDelay = 100;

double Milliseconds(TClock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// All threads of the process.
double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
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

// Nothing arrives, so no event is handed over: the main thread simply sleeps, and the
// process's CPU time is the receive thread's, presence test included.
void IdleCpu(const TPortsDirectoryFixture& directory, int entries) {
  for (int entry = 1; entry < entries; ++entry) {
    char name[32];
    std::snprintf(name, sizeof name, "PORT%05d", entry);
    directory.Link(name, "/dev/null");
  }
  TFakeUiThread ui;
  TSerialPort port;
  OpenPort(port, ui);
  const double cpuBefore = ProcessCpuSeconds();
  const TClock::time_point start = TClock::now();
  std::this_thread::sleep_for(10s);
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const double wall = std::chrono::duration<double>(TClock::now() - start).count();
  std::printf(
      "idle open port, Delay %u, %d port directory entries, %.1f s: CPU %.1f us a second, "
      "%.4f%% of one core (target <= 0.05%% for the whole program, see bench_program; flat in "
      "the number of entries)\n",
      SystemDelay, entries, wall, cpu * 1e6 / wall, 100.0 * cpu / wall);
  port.Close();
  for (int entry = 1; entry < entries; ++entry) {
    char name[32];
    std::snprintf(name, sizeof name, "PORT%05d", entry);
    directory.Remove(name);
  }
}

// An idle device with modem lines (every USB adapter and UART), whose changes wake no wait, and
// one without (a pseudo-terminal), both played by the fake platform: how often the receive
// thread makes a pass while nothing happens, as the thread counts them itself.
void IdleWakeUps(bool modemLines) {
  auto platform = std::make_shared<TFakeSerialPlatform>();
  if (modemLines) platform->Line()->SetModemLines(0);
  TFakeUiThread ui;
  TSerialPort port(platform);
  OpenPort(port, ui);
  // Past the first pass and its pause.
  ui.WaitUntil([] { return false; }, 2 * std::chrono::milliseconds(SystemDelay));
  const std::uint64_t before = port.ReceivePasses();
  const TClock::time_point start = TClock::now();
  std::this_thread::sleep_for(5s);
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  const double rate = static_cast<double>(port.ReceivePasses() - before) / seconds;
  if (modemLines) {
    std::printf(
        "idle device with modem lines, with or without an OnLineStatusChange handler: wake-ups "
        "per second %.1f (asked every Delay, as a poll: target %.1f)\n",
        rate, 1000.0 / SystemDelay);
  } else {
    std::printf("idle device without modem lines: wake-ups per second %.1f (target <= 1)\n", rate);
  }
  port.Close();
}

// The whole port list, as the window reads it at start and a presence test reads it when the
// open port's own entry has changed, with `entries` entries in the port directory.
void ListingCost(const TPortsDirectoryFixture& directory, int entries) {
  for (int entry = 1; entry < entries; ++entry) {
    char name[32];
    std::snprintf(name, sizeof name, "PORT%05d", entry);
    directory.Link(name, "/dev/null");
  }
  TSerialPort port;
  const int calls = std::max(5, 20000 / entries);
  std::vector<std::string> names;
  const double cpuBefore = ProcessCpuSeconds();
  for (int call = 0; call < calls; ++call) port.ListPortNames(names);
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  std::printf("port list with %zu entries: %.3f ms CPU a listing\n", names.size(),
              cpu * 1e3 / calls);
  for (int entry = 1; entry < entries; ++entry) {
    char name[32];
    std::snprintf(name, sizeof name, "PORT%05d", entry);
    directory.Remove(name);
  }
}

// Milliseconds from writing a line to its OnReceive, once a round, each line written after
// `quiet(round)` ms without traffic; empty when a line never arrived.
std::vector<double> LinesToOnReceive(TPseudoTerminal& terminal, int rounds,
                                     const std::function<int()>& quiet) {
  TFakeUiThread ui;
  TSerialPort port;
  TClock::time_point arrived;
  int received = 0;
  port.OnReceive = [&](TSerialPort*, const std::string&) {
    arrived = TClock::now();
    ++received;
  };
  OpenPort(port, ui);
  std::vector<double> latencies;
  for (int round = 0; round < rounds; ++round) {
    ui.WaitUntil([] { return false; }, std::chrono::milliseconds(quiet()));
    const int before = received;
    const TClock::time_point sent = TClock::now();
    terminal.Write("SWR: 15\r\n");
    if (!ui.WaitUntil([&] { return received > before; }, 5s)) {
      std::printf("line %d never arrived\n", round);
      return {};
    }
    latencies.push_back(Milliseconds(arrived - sent));
  }
  port.Close();
  return latencies;
}

void ReceiveLatency(TPseudoTerminal& terminal, int lines) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> phase(0, SystemDelay);
  // Lines come at any moment of the receive thread's pause.
  const std::vector<double> latencies =
      LinesToOnReceive(terminal, lines, [&] { return phase(random); });
  if (latencies.empty()) return;
  std::printf(
      "write to OnReceive, Delay %u, %d lines: median %.2f ms, 99th percentile %.2f ms, "
      "max %.2f ms (target p99 <= %u ms)\n",
      SystemDelay, lines, Percentile(latencies, 0.5), Percentile(latencies, 0.99),
      Percentile(latencies, 1.0), SystemDelay + 2);
}

// The first bytes after a quiet spell longer than Delay: the receive thread sleeps until they
// come and reads one Delay later, with whatever followed them, as a poll would have.
void LatencyFromIdle(TPseudoTerminal& terminal) {
  constexpr int Rounds = 20;
  const std::vector<double> latencies =
      LinesToOnReceive(terminal, Rounds, [] { return static_cast<int>(3 * SystemDelay); });
  if (latencies.empty()) return;
  std::printf(
      "write to OnReceive after %u ms without traffic, %d lines: median %.2f ms, max %.2f ms "
      "(target: median <= %u ms, as polling every Delay)\n",
      3 * SystemDelay, Rounds, Percentile(latencies, 0.5), Percentile(latencies, 1.0),
      SystemDelay + 2);
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

// A tuner that floods and reads nothing: the replies to 50 identification lines, with the
// default write time-outs, and a 200 KB paste.
void StalledWrites() {
  TPortsDirectoryFixture directory;
  TPseudoTerminal silent;
  directory.Link("COM8", silent.SlavePath());
  TFakeUiThread ui;
  TSerialPort port;
  port.SetUiHandOver(&ui);
  port.SetPort(spCOM8);
  port.Open();
  auto timed = [&](const std::string& text) {
    const TClock::time_point start = TClock::now();
    try {
      port.SendString(text);
    } catch (const ESerialPortException&) {
      // Expected once the queue is full.
    }
    return Milliseconds(TClock::now() - start);
  };
  const double paste = timed(std::string(200 * 1024, 'x'));
  std::vector<double> replies;
  for (int line = 0; line < 50; ++line) replies.push_back(timed("????\r\n"));
  double total = 0;
  for (double reply : replies) total += reply;
  std::printf(
      "Writes to an other end that reads nothing: 200 KB paste %.0f ms (target <= 2100 ms); "
      "50 replies after it %.1f ms in all, max %.2f ms (target: no wait of their own)\n",
      paste, total, Percentile(replies, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  TPortsDirectoryFixture directory;
  TPseudoTerminal terminal;
  directory.Link("COM7", terminal.SlavePath());
  ListingCost(directory, 5);
  ListingCost(directory, 5000);
  IdleCpu(directory, 5);
  IdleCpu(directory, 5000);
  IdleWakeUps(true);
  IdleWakeUps(false);
  CloseDurations(terminal);
  LatencyFromIdle(terminal);
  ReceiveLatency(terminal, lines);
  StalledWrites();
  return 0;
}
