// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The program's command line as scripts and ssh sessions use it: --help and --version need no
// display, and a wrong option is an error with the usage, exit status 2.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "CommandLine.h"

namespace {

struct Outcome {
  int Status = -1;
  std::string Out;
  std::string Err;
};

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(got));
  ::close(fd);
  return text;
}

// Runs orvel with no display at all: the X platform plugin is asked for and DISPLAY is unset,
// so anything that touches the window system fails.
Outcome RunOrvel(const std::vector<std::string>& arguments) {
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    const std::string program = std::string(ORVEL_BINARY_DIR) + "/orvel";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    _exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  Outcome outcome;
  // Both pipes are small enough for the texts involved: read one, then the other.
  outcome.Out = ReadAll(out[0]);
  outcome.Err = ReadAll(err[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  outcome.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return outcome;
}

TEST(ProgramCommandLineTest, WorksWithoutADisplay) {
  const std::string usage = UsageText();
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"--help"}, 0, usage, ""},
      {{"-h"}, 0, usage, ""},
      {{"--version"}, 0, "Orvel " ORVEL_VERSION "\n", ""},
      {{"--port", "COM3", "--version"}, 0, "Orvel " ORVEL_VERSION "\n", ""},
      {{"--bogus"}, 2, "", "orvel: unknown option --bogus\n" + usage},
      {{"--port"}, 2, "", "orvel: option --port needs a port name\n" + usage},
      {{"COM3"}, 2, "", "orvel: unexpected argument COM3\n" + usage},
      {{"--help", "--bogus"}, 2, "", "orvel: unknown option --bogus\n" + usage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    const Outcome outcome = RunOrvel(c.arguments);
    EXPECT_EQ(outcome.Status, c.status) << outcome.Err;
    EXPECT_EQ(outcome.Out, c.out);
    EXPECT_EQ(outcome.Err, c.err);
  }
}

TEST(ProgramCommandLineTest, HelpDescribesThePortDirectoryAndItsReports) {
  const std::string usage = UsageText();
  EXPECT_NE(usage.find("ORVEL_PORTS_DIR"), std::string::npos);
  EXPECT_NE(usage.find("standard error"), std::string::npos);
}

// The version has one source, the project version in CMake; the manual pages are checked
// against it as they are written by hand.
TEST(ProgramCommandLineTest, ManualPagesCarryTheProjectVersion) {
  for (const char* page : {"orvel.1", "orvel-tuner-sim.1"}) {
    SCOPED_TRACE(page);
    std::ifstream file(std::string(ORVEL_SOURCE_DIR) + "/docs/man/" + page);
    std::string line;
    while (std::getline(file, line) && !line.starts_with(".TH ")) {
    }
    EXPECT_NE(line.find("\"Orvel " ORVEL_VERSION "\""), std::string::npos) << line;
  }
}

TEST(CommandLineTest, Parsing) {
  struct Case {
    std::vector<std::string> arguments;
    const char* port;  // nullptr: none given
    bool connect;
    std::vector<std::string> toolkit;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{}, nullptr, false, {}, ""},
      {{"--port", "COM7", "--connect"}, "COM7", true, {}, ""},
      {{"--port=/dev/ttyUSB0"}, "/dev/ttyUSB0", false, {}, ""},
      {{"--port", "--connect"}, "--connect", false, {}, ""},
      {{"-platform", "offscreen", "-reverse", "--connect"},
       nullptr,
       true,
       {"-platform", "offscreen", "-reverse"},
       ""},
      {{"--port="}, "", false, {}, "option --port needs a port name"},
      {{"-platform"}, nullptr, false, {}, "option -platform needs a value"},
      {{"--connect", "-x"}, nullptr, true, {}, "unknown option -x"},
      {{"-"}, nullptr, false, {}, "unexpected argument -"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.arguments));
    const TCommandLine line = ParseCommandLine(c.arguments);
    EXPECT_EQ(line.Error, c.error);
    if (!c.error.empty()) continue;
    EXPECT_EQ(line.Port.has_value(), c.port != nullptr);
    if (c.port != nullptr && line.Port) {
      EXPECT_EQ(*line.Port, c.port);
    }
    EXPECT_EQ(line.Connect, c.connect);
    EXPECT_EQ(line.ToolkitArguments, c.toolkit);
  }
}

}  // namespace
