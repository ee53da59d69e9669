// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Figures for network ports against the same pseudo-terminal reached directly: the
// identification round trip (probe out, identification line back to OnReceive) and the CPU
// time of an idle open port, local and through ser2net over RFC 2217 on 127.0.0.1; the
// resident memory while a station floods the port.
// Usage: bench_remote [round trips] (default 100 each).
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "FakeUiThread.h"
#include "PortsDirectoryFixture.h"
#include "PseudoTerminal.h"
#include "Ser2Net.h"
#include "SerialPort.h"
#include "TelnetStation.h"

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint32_t SystemDelay = 100;

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

// The tuner's side: answers every probe with its identification line.
class TIdentifyingTuner {
 public:
  explicit TIdentifyingTuner(TPseudoTerminal& terminal)
      : terminal_(terminal), thread_([this] { Run(); }) {}
  ~TIdentifyingTuner() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run() {
    std::string pending;
    while (!stop_) {
      pending += terminal_.Read(5ms);
      for (std::size_t at; (at = pending.find("ATU?\r\n")) != std::string::npos;) {
        pending.erase(0, at + 6);
        terminal_.Write("ATU_KORAX 1.2\r\n");
      }
    }
  }

  TPseudoTerminal& terminal_;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

void Open(TSerialPort& port, TFakeUiThread& ui, const std::string& name) {
  port.SetUiHandOver(&ui);
  port.SetCustomPortName(name);
  port.SetPort(port.CommPortFromName(name));
  port.SetDelay(SystemDelay);
  port.SetBaudRate(br009600);
  port.Open();
}

double RoundTripMedian(const std::string& name, int rounds) {
  TFakeUiThread ui;
  TSerialPort port;
  std::string received;
  port.OnReceive = [&](TSerialPort*, const std::string& buffer) { received += buffer; };
  Open(port, ui, name);
  std::mt19937 random(4711);
  std::uniform_int_distribution<int> phase(0, SystemDelay);
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) {
    // Probes go out at any moment of the receive thread's pause, as the operator's clicks do.
    ui.WaitUntil([] { return false; }, std::chrono::milliseconds(phase(random)));
    received.clear();
    const TClock::time_point sent = TClock::now();
    port.SendString("ATU?\r\n");
    if (!ui.WaitUntil(
            [&] {
              return received.find("ATU_KORAX") != std::string::npos && received.ends_with("\r\n");
            },
            5s)) {
      std::printf("%s: round trip %d never came back\n", name.c_str(), round);
      break;
    }
    times.push_back(std::chrono::duration<double, std::milli>(TClock::now() - sent).count());
  }
  port.Close();
  return Median(times);
}

double IdleCpuPercent(const std::string& name) {
  TFakeUiThread ui;
  TSerialPort port;
  Open(port, ui, name);
  const double before = ProcessCpuSeconds();
  const TClock::time_point start = TClock::now();
  std::this_thread::sleep_for(10s);
  const double cpu = ProcessCpuSeconds() - before;
  const double wall = std::chrono::duration<double>(TClock::now() - start).count();
  port.Close();
  return 100.0 * cpu / wall;
}

double Megabytes(long bytes) {
  return static_cast<double>(bytes) / 1048576.0;
}

long ResidentBytes() {
  long pages = 0;
  long resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return resident * sysconf(_SC_PAGESIZE);
}

// The resident memory of an idle open port, and the most it reached while a station sent
// `burst` bytes faster than the receive thread takes them.
std::pair<long, long> ResidentUnderFlood(TTelnetStation::TConduct conduct, std::uint64_t burst) {
  TTelnetStation station(conduct, burst);
  TTelnetStation strict(TTelnetStation::TConduct::Strict);
  TFakeUiThread ui;
  TSerialPort port;
  std::uint64_t received = 0;
  port.OnReceive = [&](TSerialPort*, const std::string& buffer) { received += buffer.size(); };
  Open(port, ui, strict.Address());
  ui.WaitUntil([] { return false; }, 1s);
  const long idle = ResidentBytes();
  port.Close();
  Open(port, ui, station.Address());
  long peak = 0;
  // Telnet takes its escapes out of random bytes: the burst is over when the station has sent
  // it all and nothing more arrives for half a second. The port takes one input queue a pass,
  // so a burst of data is still being held back by TCP when the time is up.
  std::uint64_t seen = 0;
  bool quiet = false;
  const TClock::time_point start = TClock::now();
  while (!quiet && TClock::now() - start < 15s) {
    seen = received;
    ui.WaitUntil(
        [&] {
          peak = std::max(peak, ResidentBytes());
          return false;
        },
        500ms);
    quiet = station.GarbageSent() >= burst && received == seen;
  }
  port.Close();
  std::printf("flood over %.1f s: %llu bytes sent, %llu received after the Telnet escapes\n",
              std::chrono::duration<double>(TClock::now() - start).count(),
              static_cast<unsigned long long>(station.GarbageSent()),
              static_cast<unsigned long long>(received));
  return {idle, peak};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
  TPortsDirectoryFixture directory;
  TPseudoTerminal terminal;
  directory.Link("COM7", terminal.SlavePath());
  TSer2Net station(terminal.SlavePath());
  station.Start();
  {
    TIdentifyingTuner tuner(terminal);
    const double local = RoundTripMedian("COM7", rounds);
    const double remote = RoundTripMedian(station.Address(), rounds);
    std::printf(
        "identification round trip, Delay %u, %d each: local median %.2f ms, RFC 2217 on "
        "loopback median %.2f ms = %.2fx (target <= 1.2x)\n",
        SystemDelay, rounds, local, remote, local > 0 ? remote / local : 0.0);
  }
  const double localIdle = IdleCpuPercent("COM7");
  const double remoteIdle = IdleCpuPercent(station.Address());
  std::printf(
      "idle open port over 10 s (this process; ser2net not counted): local %.4f%%, RFC 2217 "
      "%.4f%% of one core (target: network no higher than local)\n",
      localIdle, remoteIdle);
  const std::pair<TTelnetStation::TConduct, const char*> floods[] = {
      {TTelnetStation::TConduct::BurstWhenNegotiated, "a 100 MB burst of data"},
      {TTelnetStation::TConduct::FloodWhenNegotiated, "100 MB of raw random bytes"}};
  for (const auto& [conduct, what] : floods) {
    const auto [idle, peak] = ResidentUnderFlood(conduct, 100u << 20);
    std::printf(
        "resident memory, open RFC 2217 port: idle %.1f MB, at most %.1f MB while a station "
        "sends %s = +%.1f MB (target <= +20 MB)\n",
        Megabytes(idle), Megabytes(peak), what, Megabytes(peak - idle));
  }
  return 0;
}
