// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Figures for network ports against the same pseudo-terminal reached directly: the
// identification round trip (probe out, identification line back to OnReceive) and the CPU
// time of an idle open port, local and through ser2net over RFC 2217 on 127.0.0.1; the
// resident memory while a station floods the port. With --soak, healthy stations (plain and
// TLS, a quiet and a chatty tuner) kept open for MINUTES: the losses found (each a false one),
// the liveness questions and the bytes on the connection per minute, and what a write costs
// when the station has to be asked first.
// Usage: bench_remote [round trips] (default 100 each) | bench_remote --soak MINUTES
#include <dirent.h>
#include <fcntl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "tests/serial/FakeUiThread.h"
#include "tests/serial/PortsDirectoryFixture.h"
#include "tests/station/Ser2Net.h"
#include "tests/station/TelnetStation.h"
#include "tools/tuner-sim/PseudoTerminal.h"

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

// Bytes sent and received so far on this process's connection to the station's port.
std::uint64_t ConnectionBytes(unsigned stationPort) {
  std::uint64_t bytes = 0;
  DIR* directory = ::opendir("/proc/self/fd");
  if (!directory) return 0;
  while (const dirent* entry = ::readdir(directory)) {
    const int fd = std::atoi(entry->d_name);
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    tcp_info info{};
    socklen_t infoSize = sizeof info;
    if (fd > 2 && ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0 &&
        peer.sin_family == AF_INET && ntohs(peer.sin_port) == stationPort &&
        ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &infoSize) == 0) {
      // Our duplicate and gensio's descriptor name the same socket: the largest, once.
      bytes = std::max<std::uint64_t>(bytes, info.tcpi_bytes_acked + info.tcpi_bytes_received);
    }
  }
  ::closedir(directory);
  return bytes;
}

// One soak leg in a process of its own (its trace is its own): a healthy station kept open for
// `minutes`, reopened whenever it is found lost. Prints "losses bytes write-ms".
int SoakLeg(bool tls, bool chatty, double minutes) {
  TPseudoTerminal terminal;
  std::unique_ptr<TTestCertificates> certificates;
  std::string options;
  if (tls) {
    certificates = std::make_unique<TTestCertificates>();
    options = certificates->StationOptions("station");
  }
  TSer2Net station(terminal.SlavePath(), options);
  station.Start();
  const std::string address =
      tls ? station.Address("rfc2217+tls") + "?ca=" + certificates->File("ca.pem")
          : station.Address();
  std::atomic<bool> stop = false;
  // A chatty tuner reports five times a second; a quiet one says nothing; both take what comes.
  std::thread tuner([&] {
    while (!stop) {
      terminal.Read(200ms);
      if (chatty) terminal.Write("SWR 1.1 FWD 100\r\n");
    }
  });
  TFakeUiThread ui;
  TSerialPort port;
  int losses = 0;
  port.OnFault = [&](TSerialPort*, TCommPort) { ++losses; };
  Open(port, ui, address);
  const TClock::time_point end =
      TClock::now() + std::chrono::duration_cast<TClock::duration>(minutes * 1min);
  std::uint64_t bytes = 0;
  while (TClock::now() < end) {
    ui.WaitUntil([&] { return port.ConnectedPort() == spNone; }, 1s);
    bytes = std::max(bytes, ConnectionBytes(station.Port()));
    if (port.ConnectedPort() == spNone) {
      try {
        port.Open();
      } catch (const ESerialPortException&) {
      }
    }
  }
  // A write to a station not heard from for more than a second asks first.
  std::vector<double> writes;
  for (int i = 0; i < 10 && !chatty; ++i) {
    ui.WaitUntil([] { return false; }, 1500ms);
    const TClock::time_point start = TClock::now();
    port.SendString("\r\n");
    writes.push_back(std::chrono::duration<double, std::milli>(TClock::now() - start).count());
  }
  port.Close();
  stop = true;
  tuner.join();
  std::printf("%d %llu %.3f\n", losses, static_cast<unsigned long long>(bytes), Median(writes));
  return 0;
}

// The soak: the four legs side by side, each a process with the network trace on.
int Soak(double minutes) {
  const char* self = "/proc/self/exe";
  struct TLeg {
    bool tls;
    bool chatty;
    const char* name;
    pid_t pid = -1;
    std::string out;
    std::string trace;
  };
  TLeg legs[] = {{false, false, "plain, quiet tuner", -1, {}, {}},
                 {false, true, "plain, chatty tuner", -1, {}, {}},
                 {true, false, "TLS, quiet tuner", -1, {}, {}},
                 {true, true, "TLS, chatty tuner", -1, {}, {}}};
  const std::string base = "/tmp/orvel-soak-" + std::to_string(::getpid());
  int index = 0;
  for (TLeg& leg : legs) {
    leg.out = base + "-" + std::to_string(index) + ".out";
    leg.trace = base + "-" + std::to_string(index++) + ".trace";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, leg.out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, leg.trace.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::string minutesText = std::to_string(minutes);
    const std::string kind =
        std::string(leg.tls ? "tls" : "plain") + (leg.chatty ? "-chatty" : "-quiet");
    char* args[] = {const_cast<char*>(self), const_cast<char*>("--soak-leg"),
                    const_cast<char*>(kind.c_str()), const_cast<char*>(minutesText.c_str()),
                    nullptr};
    std::vector<std::string> environment{"ORVEL_TRACE=network"};
    for (char** variable = environ; *variable; ++variable) {
      if (std::strncmp(*variable, "ORVEL_TRACE=", 12) != 0) environment.emplace_back(*variable);
    }
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
    if (posix_spawn(&leg.pid, self, &actions, nullptr, args, envp.data()) != 0) leg.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  std::printf("soak of %.1f min, Delay %u, stations on 127.0.0.1 in front of pseudo-terminals\n",
              minutes, SystemDelay);
  int falseLosses = 0;
  for (TLeg& leg : legs) {
    int status = 0;
    if (leg.pid > 0) ::waitpid(leg.pid, &status, 0);
    int losses = -1;
    unsigned long long bytes = 0;
    double writeMs = 0;
    std::ifstream(leg.out) >> losses >> bytes >> writeMs;
    std::ifstream trace(leg.trace);
    int questions = 0;
    for (std::string line; std::getline(trace, line);) {
      if (line.find("for its speed after its quiet time") != std::string::npos) ++questions;
    }
    falseLosses += losses < 0 ? 1 : losses;
    std::printf(
        "%-20s false losses %d, liveness questions %.1f/min, %.0f bytes/min on the "
        "connection",
        leg.name, losses, questions / minutes, static_cast<double>(bytes) / minutes);
    if (!leg.chatty) std::printf(", a write after 1.5 s of quiet %.2f ms (median)", writeMs);
    std::printf("\n");
    std::remove(leg.out.c_str());
    std::remove(leg.trace.c_str());
  }
  std::printf("false losses in all: %d (target 0)\n", falseLosses);
  return falseLosses == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--soak") == 0) return Soak(std::atof(argv[2]));
  if (argc > 3 && std::strcmp(argv[1], "--soak-leg") == 0) {
    const std::string kind = argv[2];
    return SoakLeg(kind.starts_with("tls"), kind.ends_with("chatty"), std::atof(argv[3]));
  }
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
