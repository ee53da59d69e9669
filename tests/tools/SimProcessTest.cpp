// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The built simulator on a real pseudo-terminal, driven from outside as the program drives it:
// through the link in a temporary port directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kDeadline(10000);

// Bytes from `fd` until `text` has arrived, the deadline passes or the descriptor ends.
std::string ReadUntil(int fd, const std::string& text, milliseconds limit = kDeadline) {
  std::string got;
  const auto deadline = Clock::now() + limit;
  while (got.find(text) == std::string::npos) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[512];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

class Simulator {
 public:
  explicit Simulator(const std::vector<std::string>& arguments, fs::path ports = {}) {
    char pattern[] = "/tmp/orvel-sim-test-XXXXXX";
    ports_ = ports.empty() ? fs::path(mkdtemp(pattern)) / "ports" : ports;
    owns_ports_ = ports.empty();
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> words = {ORVEL_BINARY_DIR "/orvel-tuner-sim"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = {"ORVEL_PORTS_DIR=" + ports_.string()};
    for (char** e = environ; *e; ++e) {
      if (!std::string(*e).starts_with("ORVEL_PORTS_DIR=")) environment.emplace_back(*e);
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      std::vector<char*> argv, envp;
      for (auto& w : words) argv.push_back(w.data());
      for (auto& e : environment) envp.push_back(e.data());
      argv.push_back(nullptr);
      envp.push_back(nullptr);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    close(out[1]);
    stdout_ = out[0];
  }

  ~Simulator() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) close(stdout_);
    if (owns_ports_) fs::remove_all(ports_.parent_path());
  }

  // The "NAME DEVICE" line printed at start.
  std::string Announcement() { return ReadUntil(stdout_, "\n"); }

  fs::path Link(const std::string& name = "COM250") const { return ports_ / name; }
  const fs::path& Ports() const { return ports_; }

  // The exit status once the simulator has ended, waiting up to the deadline.
  std::optional<int> Exit(milliseconds limit = kDeadline) {
    const auto deadline = Clock::now() + limit;
    while (!status_ && Clock::now() < deadline) {
      int raw = 0;
      pid_t done = waitpid(pid_, &raw, WNOHANG);
      if (done == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      } else {
        poll(nullptr, 0, 10);
      }
    }
    return status_;
  }

  void Signal(int number) { kill(pid_, number); }

 private:
  fs::path ports_;
  bool owns_ports_ = false;
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::optional<int> status_;
};

int OpenPort(const fs::path& link) {
  return open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

TEST(SimProcessTest, IdentifiesReportsAndRemovesItsLinkOnSigterm) {
  Simulator sim({"--seed", "5"});
  const std::string announced = sim.Announcement();
  ASSERT_TRUE(announced.starts_with("COM250 /dev/pts/")) << announced;
  const std::string device = announced.substr(7, announced.size() - 8);
  EXPECT_EQ(fs::read_symlink(sim.Link()), device);

  int port = OpenPort(sim.Link());
  ASSERT_GE(port, 0);
  ASSERT_EQ(write(port, "ATU?\r\n", 6), 6);
  EXPECT_TRUE(ReadUntil(port, "\r\n").starts_with("ATU_KORAX"));
  ASSERT_EQ(write(port, "????\r\n", 6), 6);
  const std::string report = ReadUntil(port, "FWD: 000\r\n");
  for (const char* line :
       {"SWR: 255\r\n", "Port L: 00000000\r\n", "Port C: 00000000\r\n", "K: 0\r\n", "RED: OFF\r\n",
        "GREEN: OFF\r\n", "YELLOW: OFF\r\n", "SWRmin: 15\r\n", "PA_CTRL OFF\r\n", "FWD: 000\r\n"}) {
    EXPECT_NE(report.find(line), std::string::npos) << line;
  }
  close(port);

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Exit(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(sim.Link())));
}

TEST(SimProcessTest, ThePortCanBeClosedAndReopened) {
  Simulator sim({"--name", "COM9"});
  ASSERT_FALSE(sim.Announcement().empty());
  for (int round = 0; round < 3; ++round) {
    int port = OpenPort(sim.Link("COM9"));
    ASSERT_GE(port, 0);
    const std::string threshold = "1" + std::to_string(round + 1);
    const std::string command = "SWRmin " + threshold + "\r\n";
    ASSERT_EQ(write(port, command.data(), command.size()), 11) << round;
    EXPECT_EQ(ReadUntil(port, "\r\n"), "SWRmin: " + threshold + "\r\n");
    close(port);
  }
  sim.Signal(SIGINT);
  EXPECT_EQ(sim.Exit(), 0);
}

TEST(SimProcessTest, OnceEndsWhenThePortHasBeenClosedForGood) {
  Simulator sim({"--once"});
  ASSERT_FALSE(sim.Announcement().empty());
  int port = OpenPort(sim.Link());
  ASSERT_GE(port, 0);
  // A quick close and reopen, as a program reopening its port does, does not end it.
  close(port);
  port = OpenPort(sim.Link());
  ASSERT_GE(port, 0);
  ASSERT_EQ(write(port, "ATU?\r\n", 6), 6);
  EXPECT_TRUE(ReadUntil(port, "\r\n").starts_with("ATU_KORAX"));
  close(port);
  EXPECT_EQ(sim.Exit(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(sim.Link())));
}

TEST(SimProcessTest, UnplugHangsUpTheProgramsSideAndRemovesTheLink) {
  Simulator sim({"--unplug-after", "0.3"});
  ASSERT_FALSE(sim.Announcement().empty());
  int port = OpenPort(sim.Link());
  ASSERT_GE(port, 0);
  const auto deadline = Clock::now() + kDeadline;
  pollfd p{port, POLLIN, 0};
  while (!(p.revents & (POLLHUP | POLLERR)) && Clock::now() < deadline) poll(&p, 1, 100);
  EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
  char byte;
  EXPECT_LE(read(port, &byte, 1), 0);
  close(port);
  EXPECT_EQ(sim.Exit(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(sim.Link())));
}

TEST(SimProcessTest, AnExclusiveUseLeftBehindByTheLastProgramIsLifted) {
  // Root ignores TIOCEXCL, so the program's part is played by an ordinary user.
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  Simulator sim({});
  const std::string announced = sim.Announcement();
  const std::string device = announced.substr(7, announced.size() - 8);
  ASSERT_EQ(chmod(device.c_str(), 0666), 0);
  pid_t program = fork();
  if (program == 0) {
    if (setuid(65534) != 0) _exit(10);
    int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) _exit(11);
    ioctl(fd, TIOCEXCL);
    close(fd);
    // Busy until the simulator has seen the close and lifted the flag.
    const auto deadline = Clock::now() + kDeadline;
    while (Clock::now() < deadline) {
      fd = open(device.c_str(), O_RDWR | O_NOCTTY);
      if (fd >= 0) _exit(0);
      if (errno != EBUSY) _exit(12);
      poll(nullptr, 0, 10);
    }
    _exit(13);
  }
  int status = -1;
  ASSERT_EQ(waitpid(program, &status, 0), program);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Exit(), 0);
}

TEST(SimProcessTest, RefusesANameInUseAndReplacesAStaleLink) {
  Simulator first({});
  ASSERT_FALSE(first.Announcement().empty());
  Simulator second({}, first.Ports());
  EXPECT_EQ(second.Exit(), 1);
  EXPECT_TRUE(fs::exists(first.Link()));

  fs::create_symlink("/dev/pts/nothing-here", first.Ports() / "COM251");
  Simulator third({"--name", "COM251"}, first.Ports());
  EXPECT_TRUE(third.Announcement().starts_with("COM251 /dev/pts/"));
  EXPECT_TRUE(fs::exists(first.Ports() / "COM251"));
  third.Signal(SIGTERM);
  EXPECT_EQ(third.Exit(), 0);
  first.Signal(SIGTERM);
  EXPECT_EQ(first.Exit(), 0);
}

TEST(SimProcessTest, AWrongCommandLineEndsWithStatusTwo) {
  Simulator sim({"--flood", "many"});
  EXPECT_EQ(sim.Exit(), 2);
}

}  // namespace
