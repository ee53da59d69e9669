// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// orvel-tuner-sim: a simulated antenna tuner on a pseudo-terminal, linked into the port
// directory under a port name, for trying and testing Orvel without the hardware.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <iostream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/PortsDirectory.h"
#include "tools/tuner-sim/ChunkSplitter.h"
#include "tools/tuner-sim/OpenerWatch.h"
#include "tools/tuner-sim/PortLink.h"
#include "tools/tuner-sim/PseudoTerminal.h"
#include "tools/tuner-sim/SimOptions.h"
#include "tools/tuner-sim/TunerSim.h"

namespace {

using Millis = std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

// Time the port may stay closed before --once takes it as closed for good: long enough for a
// program that closes and reopens the port, short enough for a test to wait for.
constexpr Millis kClosedForGood(2000);
// Output held back while the program reads slowly; beyond this whole chunks are dropped, as a
// real tuner's bytes are lost when nobody reads the line.
constexpr std::size_t kMaxBacklog = 64 * 1024;
constexpr Millis kMaxSplitPause(20);

std::string Printable(const std::string& line) {
  std::string text;
  for (const char byte : line) {
    const auto c = static_cast<unsigned char>(byte);
    if (c >= 32 && c < 127 && c != '\\') {
      text += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  return text;
}

// SIGHUP too, so that closing the terminal it runs in also removes the link.
sigset_t StopSignals() {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGHUP);
  return stops;
}

struct Chunk {
  Millis due;
  std::string bytes;
};

class Session {
 public:
  Session(const SimOptions& options, std::uint32_t seed)
      : options_(options),
        tuner_(options.load, options.faults, seed),
        splitter_(seed ^ 0x5A5A5A5Au),
        pauses_(seed + 1),
        watch_(terminal_.SlavePath()),
        link_(PortsDirectoryOrFail(), options.name, terminal_.SlavePath()),
        start_(SteadyClock::now()) {}

  int Run();

 private:
  static std::string PortsDirectoryOrFail() {
    std::string directory = PortsDirectory();
    if (directory.empty()) {
      throw std::runtime_error("no port directory: set ORVEL_PORTS_DIR or HOME");
    }
    return directory;
  }

  Millis Now() const { return std::chrono::duration_cast<Millis>(SteadyClock::now() - start_); }
  void Log(const std::string& text) const {
    if (options_.verbose) std::cerr << "orvel-tuner-sim: " << text << std::endl;
  }
  void TakeOpenerNotices(Millis now);
  bool ReadCommands(Millis now);
  void QueueOutput(Millis now);
  bool WriteDue(Millis now);
  int Timeout(Millis now, bool blocked_output) const;

  SimOptions options_;
  TunerSim tuner_;
  ChunkSplitter splitter_;
  std::mt19937 pauses_;
  TPseudoTerminal terminal_;
  OpenerWatch watch_;
  PortLink link_;
  SteadyClock::time_point start_;
  std::deque<Chunk> output_;
  std::size_t backlog_ = 0;
  std::optional<Millis> closed_since_;
};

void Session::TakeOpenerNotices(Millis now) {
  if (!watch_.Update()) return;
  Log("port held open by " + std::to_string(watch_.Openers()) + " descriptor(s)");
  if (watch_.Openers() == 0) {
    terminal_.ReleaseExclusive();
    terminal_.DiscardUnread();
    output_.clear();
    backlog_ = 0;
    closed_since_ = now;
  } else {
    closed_since_.reset();
  }
}

// False when the line is gone for good.
bool Session::ReadCommands(Millis now) {
  char buffer[4096];
  for (;;) {
    ssize_t got = read(terminal_.Master(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return true;
    if (got <= 0) {
      Log(std::string("the pseudo-terminal failed: ") + (got < 0 ? strerror(errno) : "end"));
      return false;
    }
    for (const std::string& line :
         tuner_.Receive(std::string_view(buffer, static_cast<std::size_t>(got)), now)) {
      Log("received \"" + Printable(line) + "\"");
    }
  }
}

void Session::QueueOutput(Millis now) {
  std::string bytes = tuner_.Poll(now);
  if (bytes.empty()) return;
  // Nobody reads the line: what the tuner sends now is lost, as on a cable with no one on it.
  if (watch_.Openers() == 0) return;
  std::vector<std::string> pieces;
  if (options_.split) {
    pieces = splitter_.Split(bytes);
  } else {
    pieces.push_back(std::move(bytes));
  }
  Millis due = output_.empty() ? now : std::max(now, output_.back().due);
  std::uniform_int_distribution<int> pause(0, static_cast<int>(kMaxSplitPause.count()));
  for (std::string& piece : pieces) {
    if (backlog_ + piece.size() > kMaxBacklog) {
      Log("the program reads too slowly; output dropped");
      break;
    }
    if (options_.split) due += Millis(pause(pauses_));
    backlog_ += piece.size();
    output_.push_back({due, std::move(piece)});
  }
}

// False when the line is gone for good.
bool Session::WriteDue(Millis now) {
  while (!output_.empty() && output_.front().due <= now) {
    std::string& bytes = output_.front().bytes;
    ssize_t written = write(terminal_.Master(), bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) return true;
    if (written < 0) {
      Log(std::string("the pseudo-terminal failed: ") + strerror(errno));
      return false;
    }
    backlog_ -= static_cast<std::size_t>(written);
    bytes.erase(0, static_cast<std::size_t>(written));
    if (bytes.empty()) output_.pop_front();
  }
  return true;
}

// Milliseconds until the next thing to do; output that waits for room in the terminal wakes
// the loop through POLLOUT instead.
int Session::Timeout(Millis now, bool blocked_output) const {
  Millis wake = now + Millis(1000);
  if (auto due = tuner_.NextDue()) wake = std::min(wake, *due);
  if (!output_.empty() && !blocked_output) wake = std::min(wake, output_.front().due);
  if (options_.unplug_after.count() > 0) wake = std::min(wake, options_.unplug_after);
  if (options_.once && closed_since_) wake = std::min(wake, *closed_since_ + kClosedForGood);
  return static_cast<int>(std::max<Millis::rep>(0, (wake - now).count()));
}

int Session::Run() {
  std::cout << options_.name << ' ' << terminal_.SlavePath() << std::endl;
  Log("link " + link_.Path() + " -> " + terminal_.SlavePath() + ", antenna " + options_.load.name);

  const sigset_t stops = StopSignals();
  const int signals = signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
  if (signals < 0) throw std::runtime_error(std::string("signalfd: ") + strerror(errno));

  int status = 0;
  for (;;) {
    Millis now = Now();
    bool waiting_output = !output_.empty() && output_.front().due <= now;
    pollfd fds[3] = {
        {signals, POLLIN, 0},
        {watch_.Fd(), POLLIN, 0},
        {terminal_.Master(), static_cast<short>(POLLIN | (waiting_output ? POLLOUT : 0)), 0},
    };
    if (poll(fds, 3, Timeout(now, waiting_output)) < 0 && errno != EINTR) {
      Log(std::string("poll: ") + strerror(errno));
      status = 1;
      break;
    }
    now = Now();
    if (fds[0].revents & POLLIN) {
      Log("stopped by a signal");
      break;
    }
    // Opens first: a program that opens the port and writes at once must be seen as a reader
    // before its command is answered.
    if (fds[1].revents & POLLIN) TakeOpenerNotices(now);
    if ((fds[2].revents & POLLIN) && !ReadCommands(now)) {
      status = 1;
      break;
    }
    QueueOutput(now);
    if (!WriteDue(now)) {
      status = 1;
      break;
    }
    if (options_.unplug_after.count() > 0 && now >= options_.unplug_after) {
      Log("unplugged");
      terminal_.Close();
      break;
    }
    if (options_.once && closed_since_ && now >= *closed_since_ + kClosedForGood) {
      Log("the port has been closed for good");
      break;
    }
  }
  close(signals);
  link_.Remove();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  try {
    options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& error) {
    std::cerr << "orvel-tuner-sim: " << error.what() << "\nTry 'orvel-tuner-sim --help'.\n";
    return 2;
  }
  if (options.help) {
    std::cout << HelpText();
    return 0;
  }
  if (options.version) {
    std::cout << "orvel-tuner-sim " << ORVEL_VERSION << '\n';
    return 0;
  }

  // Blocked before anything is created, so that a stop arriving during start-up waits in the
  // signal descriptor instead of killing the process with its link left behind.
  const sigset_t stops = StopSignals();
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  signal(SIGPIPE, SIG_IGN);

  const std::uint32_t seed = options.seed ? *options.seed : std::random_device{}();
  try {
    Session session(options, seed);
    if (options.verbose) std::cerr << "orvel-tuner-sim: seed " << seed << std::endl;
    return session.Run();
  } catch (const std::exception& error) {
    std::cerr << "orvel-tuner-sim: " << error.what() << '\n';
    return 1;
  }
}
