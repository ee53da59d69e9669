// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Figures of the real program on its own Xvfb: start-up to the mapped main window, memory and
// idle CPU (all threads) with an open port and an identified tuner, with a small and a large
// port directory, beside a bare window of the same toolkit and size (bench_bare_window, next to
// this program). The tuner is a pseudo-terminal played here.
// Usage: bench_program PROGRAM [idle seconds, default 30]
//        bench_program --compare RUNS PROGRAM [PROGRAM ...]: start-up and memory of each program
//        with the tuner's port opened, and of the bare window, in turn RUNS times (builds to
//        compare, as pairwise ratios against the first).
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

// The generic serial tools' figures that the targets are given against.
constexpr double ReferenceStartupMs = 75.0;
constexpr double ReferencePssMb = 49.0;
constexpr double IdleTargetPercent = 0.05;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "bench_program: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

// CPU time of every thread of the process so far, in nanoseconds (exact, not in ticks).
double CpuNanoseconds(pid_t pid) {
  double total = 0;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks)) {
    std::ifstream schedstat(task.path() / "schedstat");
    double running = 0;
    if (schedstat >> running) total += running;
  }
  return total;
}

// One figure of /proc/PID/smaps_rollup ("Pss:", "Rss:") in MB.
double MemoryMegabytes(pid_t pid, const std::string& figure) {
  std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
  std::string key;
  while (rollup >> key) {
    if (key == figure) {
      double kilobytes = 0;
      rollup >> kilobytes;
      return kilobytes / 1024.0;
    }
    rollup.ignore(4096, '\n');
  }
  return -1;
}

// Xvfb on a display number of its own choosing.
struct TXServer {
  TXServer() {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) Fail("pipe");
    pid = ::fork();
    if (pid == 0) {
      // Fail ends the benchmark without the destructor: the server goes with it all the same.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      ::close(pipeFds[0]);
      const std::string fd = std::to_string(pipeFds[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    // Xvfb writes the number and then a line feed, and fails when the pipe is closed between.
    std::string number;
    char c = 0;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n') number += c;
    if (number.empty()) Fail("Xvfb did not start");
    ::close(pipeFds[0]);
    display = ":" + number;
  }
  ~TXServer() {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
  pid_t pid;
  std::string display;
};

// The tuner's end: answers the probe with its identification.
struct TTuner {
  TTuner() {
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) Fail("openpty");
    slavePath = ::ttyname(slave);
    termios raw{};
    ::tcgetattr(master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);
  }
  ~TTuner() {
    ::close(master);
    ::close(slave);
  }
  // Reads until `expected` has come; false after the deadline.
  bool WaitFor(const std::string& expected, std::chrono::seconds timeout) {
    const TClock::time_point deadline = TClock::now() + timeout;
    while (received.find(expected) == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
      if (left.count() <= 0) return false;
      pollfd readable{master, POLLIN, 0};
      if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[256];
      const ssize_t count = ::read(master, buffer, sizeof buffer);
      if (count > 0) received.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
  }
  // Forgets what earlier runs of the program wrote.
  void Drain() {
    pollfd readable{master, POLLIN, 0};
    char buffer[256];
    while (::poll(&readable, 1, 0) > 0 && ::read(master, buffer, sizeof buffer) > 0) {
    }
    received.clear();
  }
  void Write(const std::string& text) const {
    if (::write(master, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      Fail("write");
  }
  int master = -1;
  int slave = -1;
  std::string slavePath;
  std::string received;
};

struct TFigures {
  double startupMs = 0;
  double startupCpuMs = 0;
  double pssMb = 0;
  // Shared pages count in full: unlike PSS, it does not fall when other Qt programs run.
  double rssMb = 0;
  double idlePercent = 0;
  int width = 0;
  int height = 0;
};

// Waits for the first top-level window named `title` to be mapped, and gives its size.
bool WaitForMappedWindow(Display* display, const char* title, std::chrono::seconds timeout,
                         int& width, int& height) {
  const TClock::time_point deadline = TClock::now() + timeout;
  const int fd = ConnectionNumber(display);
  while (TClock::now() < deadline) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type != MapNotify) continue;
      char* name = nullptr;
      const bool wanted =
          XFetchName(display, event.xmap.window, &name) && name && std::strcmp(name, title) == 0;
      if (name) XFree(name);
      XWindowAttributes attributes{};
      if (wanted && XGetWindowAttributes(display, event.xmap.window, &attributes)) {
        width = attributes.width;
        height = attributes.height;
        return true;
      }
    }
    pollfd readable{fd, POLLIN, 0};
    ::poll(&readable, 1, 50);
  }
  return false;
}

struct TStarted {
  pid_t pid = -1;
  double startupMs = 0;
  double startupCpuMs = 0;
  int width = 0;
  int height = 0;
};

// Starts `arguments` on the display and waits until its window `title` is mapped.
TStarted Start(const std::vector<std::string>& arguments, const std::string& display,
               const std::string& portsDirectory, const char* title) {
  Display* x = XOpenDisplay(display.c_str());
  if (!x) Fail("XOpenDisplay " + display);
  XSelectInput(x, DefaultRootWindow(x), SubstructureNotifyMask);
  XSync(x, False);

  TStarted started;
  const TClock::time_point start = TClock::now();
  started.pid = ::fork();
  if (started.pid == 0) {
    ::setenv("DISPLAY", display.c_str(), 1);
    ::setenv("ORVEL_PORTS_DIR", portsDirectory.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (!WaitForMappedWindow(x, title, std::chrono::seconds(60), started.width, started.height)) {
    Fail(std::string("no window \"") + title + "\" was mapped");
  }
  started.startupMs = std::chrono::duration<double, std::milli>(TClock::now() - start).count();
  started.startupCpuMs = CpuNanoseconds(started.pid) / 1e6;
  XCloseDisplay(x);
  return started;
}

void Stop(pid_t pid) {
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Start-up figures vary from run to run: each is the median of this many starts.
constexpr int Starts = 5;

// A port directory of `entries` ports, COM250 the tuner's.
std::string PortsDirectory(const TTuner& tuner, int entries) {
  char pattern[] = "/tmp/orvel-bench-ports-XXXXXX";
  if (!::mkdtemp(pattern)) Fail("mkdtemp");
  const std::string directory = pattern;
  if (::symlink(tuner.slavePath.c_str(), (directory + "/COM250").c_str()) != 0) Fail("symlink");
  for (int entry = 1; entry < entries; ++entry) {
    char name[32];
    std::snprintf(name, sizeof name, "/PORT%05d", entry);
    if (::symlink("/dev/null", (directory + name).c_str()) != 0) Fail("symlink");
  }
  return directory;
}

// Waits until Orvel has identified the tuner and asked for its status.
void IdentifyTuner(TTuner& tuner) {
  if (!tuner.WaitFor("ATU?\r\n", std::chrono::seconds(30))) Fail("no probe from Orvel");
  tuner.Write("ATU_KORAX\r\n");
  if (!tuner.WaitFor("????\r\n", std::chrono::seconds(30))) Fail("no status request from Orvel");
  // Let the start-up's leftovers (the first repaints, lazy loading) settle.
  std::this_thread::sleep_for(std::chrono::seconds(2));
}

TFigures Measure(const std::string& program, const std::string& display, int entries,
                 int idleSeconds) {
  TTuner tuner;
  const std::string directory = PortsDirectory(tuner, entries);
  const std::vector<std::string> arguments = {program, "--port", "COM250", "--connect"};

  std::vector<double> startups;
  std::vector<double> startupCpus;
  for (int run = 1; run < Starts; ++run) {
    const TStarted started = Start(arguments, display, directory, "Orvel");
    startups.push_back(started.startupMs);
    startupCpus.push_back(started.startupCpuMs);
    Stop(started.pid);
  }
  // The last start is the one that stays for the memory and idle figures.
  tuner.Drain();
  const TStarted started = Start(arguments, display, directory, "Orvel");
  const pid_t pid = started.pid;
  startups.push_back(started.startupMs);
  startupCpus.push_back(started.startupCpuMs);
  TFigures figures;
  figures.startupMs = Median(startups);
  figures.startupCpuMs = Median(startupCpus);
  figures.width = started.width;
  figures.height = started.height;

  IdentifyTuner(tuner);
  figures.pssMb = MemoryMegabytes(pid, "Pss:");
  figures.rssMb = MemoryMegabytes(pid, "Rss:");
  const double cpuBefore = CpuNanoseconds(pid);
  const TClock::time_point idleStart = TClock::now();
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const double cpu = CpuNanoseconds(pid) - cpuBefore;
  const double wall = std::chrono::duration<double, std::nano>(TClock::now() - idleStart).count();
  figures.idlePercent = 100.0 * cpu / wall;

  Stop(pid);
  std::filesystem::remove_all(directory);
  return figures;
}

// The toolkit's floor: a bare window with a few widgets, as large as Orvel's, started the same way.
std::vector<std::string> BareWindow(const std::string& program, const TFigures& orvel) {
  return {program, std::to_string(orvel.width), std::to_string(orvel.height)};
}

TFigures MeasureBareWindow(const std::vector<std::string>& bareWindow, const std::string& display) {
  std::vector<double> startups;
  std::vector<double> startupCpus;
  TFigures figures;
  for (int run = 0; run < Starts; ++run) {
    const TStarted started = Start(bareWindow, display, "/nonexistent", "Bare window");
    startups.push_back(started.startupMs);
    startupCpus.push_back(started.startupCpuMs);
    if (run == Starts - 1) {
      std::this_thread::sleep_for(std::chrono::seconds(2));
      figures.pssMb = MemoryMegabytes(started.pid, "Pss:");
      figures.rssMb = MemoryMegabytes(started.pid, "Rss:");
    }
    Stop(started.pid);
  }
  figures.startupMs = Median(startups);
  figures.startupCpuMs = Median(startupCpus);
  return figures;
}

// Start-up to the mapped window and memory once the start has settled, of each program with the
// tuner's port opened and of the bare window as large as Orvel's, each in turn: the programs'
// medians, and the ratios pair by pair against the first, hold when the machine's speed drifts.
void Compare(const std::vector<std::string>& programs, const std::string& bareWindow, int runs,
             const std::string& display) {
  TTuner tuner;
  const std::string directory = PortsDirectory(tuner, 5);
  // [program][run], the bare window last.
  std::vector<std::vector<TFigures>> figures(programs.size() + 1);
  for (int run = 0; run < runs; ++run) {
    for (std::size_t program = 0; program < programs.size(); ++program) {
      tuner.Drain();
      const TStarted started =
          Start({programs[program], "--port", "COM250", "--connect"}, display, directory, "Orvel");
      IdentifyTuner(tuner);
      figures[program].push_back(
          {started.startupMs, started.startupCpuMs, MemoryMegabytes(started.pid, "Pss:"),
           MemoryMegabytes(started.pid, "Rss:"), 0, started.width, started.height});
      Stop(started.pid);
    }
    const TStarted started =
        Start(BareWindow(bareWindow, figures[0].back()), display, "/nonexistent", "Bare window");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    figures.back().push_back(
        {started.startupMs, started.startupCpuMs, MemoryMegabytes(started.pid, "Pss:"),
         MemoryMegabytes(started.pid, "Rss:"), 0, started.width, started.height});
    Stop(started.pid);
  }
  std::filesystem::remove_all(directory);
  auto median = [&](std::size_t program, double TFigures::*figure) {
    std::vector<double> values;
    for (const TFigures& run : figures[program]) values.push_back(run.*figure);
    return Median(values);
  };
  auto ratio = [&](std::size_t program, std::size_t other, double TFigures::*figure) {
    std::vector<double> values;
    for (int run = 0; run < runs; ++run) {
      values.push_back(figures[program][static_cast<std::size_t>(run)].*figure /
                       figures[other][static_cast<std::size_t>(run)].*figure);
    }
    return Median(values);
  };
  std::printf("%d runs each in turn, medians; ratios pair by pair; the window %dx%d\n", runs,
              figures[0][0].width, figures[0][0].height);
  for (std::size_t program = 0; program <= programs.size(); ++program) {
    const std::size_t bare = programs.size();
    std::printf("%s: %.1f ms (%.0f ms CPU) to the mapped window, %.1f MB RSS (%.1f MB PSS)",
                program == bare ? "the bare window" : programs[program].c_str(),
                median(program, &TFigures::startupMs), median(program, &TFigures::startupCpuMs),
                median(program, &TFigures::rssMb), median(program, &TFigures::pssMb));
    if (program != bare) {
      std::printf("; against the bare window %.2fx, +%.1f MB RSS",
                  ratio(program, bare, &TFigures::startupMs),
                  median(program, &TFigures::rssMb) - median(bare, &TFigures::rssMb));
    }
    if (program != 0 && program != bare) {
      std::printf("; against the first %.2fx start-up, %.3fx RSS",
                  ratio(program, 0, &TFigures::startupMs), ratio(program, 0, &TFigures::rssMb));
    }
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool compare = argc > 3 && std::string(argv[1]) == "--compare";
  if (argc < 2 || (std::string(argv[1]) == "--compare" && !compare)) {
    std::fprintf(stderr,
                 "usage: bench_program PROGRAM [idle seconds]\n"
                 "       bench_program --compare RUNS PROGRAM [PROGRAM ...]\n");
    return 2;
  }
  const std::string bareWindow =
      (std::filesystem::path(argv[0]).parent_path() / "bench_bare_window").string();
  // Without a runtime directory every start complains about it on stderr.
  char runtime[] = "/tmp/orvel-bench-runtime-XXXXXX";
  if (!std::getenv("XDG_RUNTIME_DIR")) {
    if (!::mkdtemp(runtime)) Fail("mkdtemp");
    ::setenv("XDG_RUNTIME_DIR", runtime, 1);
  }
  const TXServer server;
  if (compare) {
    Compare(std::vector<std::string>(argv + 3, argv + argc), bareWindow,
            std::max(1, std::atoi(argv[2])), server.display);
    if (std::getenv("XDG_RUNTIME_DIR") == std::string(runtime)) ::rmdir(runtime);
    return 0;
  }
  const std::string program = argv[1];
  const int idleSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
  const TFigures few = Measure(program, server.display, 5, idleSeconds);
  const TFigures bare = MeasureBareWindow(BareWindow(bareWindow, few), server.display);
  const TFigures many = Measure(program, server.display, 5000, idleSeconds);
  std::printf(
      "a bare window of the same toolkit and size:  %.0f ms (%.0f ms CPU) to the mapped window, "
      "%.1f MB PSS (%.1f MB RSS)\n",
      bare.startupMs, bare.startupCpuMs, bare.pssMb, bare.rssMb);
  std::printf(
      "start-up to the mapped window, 5 ports:      %.0f ms (%.0f ms CPU), median of %d; target "
      "at most %.1f ms (half of %.0f ms); %.2fx the bare window\n",
      few.startupMs, few.startupCpuMs, Starts, ReferenceStartupMs / 2, ReferenceStartupMs,
      few.startupMs / bare.startupMs);
  std::printf(
      "start-up to the mapped window, 5,000 ports:  %.0f ms (%.0f ms CPU); target at most "
      "twice the figure with 5 ports: %.2fx\n",
      many.startupMs, many.startupCpuMs, many.startupMs / few.startupMs);
  std::printf(
      "memory, identified tuner, 5 ports:           %.1f MB PSS (%.1f MB RSS); target at most "
      "%.1f MB (0.35 of %.0f MB); the bare window's plus %.1f MB PSS (%.1f MB RSS)\n",
      few.pssMb, few.rssMb, ReferencePssMb * 0.35, ReferencePssMb, few.pssMb - bare.pssMb,
      few.rssMb - bare.rssMb);
  std::printf("memory, identified tuner, 5,000 ports:       %.1f MB PSS (%.1f MB RSS)\n",
              many.pssMb, many.rssMb);
  std::printf(
      "idle CPU over %d s, Delay 100, 5 ports:      %.3f%% of a core (all threads); target "
      "at most %.2f%%\n",
      idleSeconds, few.idlePercent, IdleTargetPercent);
  std::printf(
      "idle CPU over %d s, Delay 100, 5,000 ports:  %.3f%% of a core; target at most twice "
      "the figure with 5 ports: %.2fx\n",
      idleSeconds, many.idlePercent, many.idlePercent / few.idlePercent);
  if (std::getenv("XDG_RUNTIME_DIR") == std::string(runtime)) ::rmdir(runtime);
  return 0;
}
