// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The running program: it ends through its event loop on SIGINT, SIGTERM and SIGHUP (exit status
// 0 and the port closed as at File > Exit, so a virtual port is free for other users again), and
// it loads what only stations need when a station is opened, not before.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/app/TunerPty.h"
#include "tests/station/Ser2Net.h"

namespace {

pid_t StartOrvel(const std::string& portsDir) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("ORVEL_PORTS_DIR", portsDir.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string program = std::string(ORVEL_BINARY_DIR) + "/orvel";
    ::execl(program.c_str(), program.c_str(), "--port", "COM7", "--connect",
            static_cast<char*>(nullptr));
    _exit(127);
  }
  return child;
}

// Opens the device as an ordinary user would: root is not held back by the exclusive mode.
bool OpensForNobody(const std::string& device) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && ::setuid(65534) != 0) _exit(10);
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
    _exit(fd >= 0 ? 0 : 11);
  }
  int status = -1;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(ProgramSignalTest, SignalsEndTheProgramCleanly) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(::strsignal(signal));
    QTemporaryDir ports;
    TTunerPty tuner;
    tuner.LinkAs(ports.path().toStdString(), "COM7");
    ASSERT_EQ(::chmod(tuner.DevicePath().c_str(), 0666), 0);
    const pid_t orvel = StartOrvel(ports.path().toStdString());
    ASSERT_GT(orvel, 0);
    const bool connected = tuner.WaitFor("ATU?\r\n", 10000);
    ::kill(orvel, signal);
    int status = -1;
    ASSERT_EQ(::waitpid(orvel, &status, 0), orvel);
    ASSERT_TRUE(connected) << "the program did not open the port";
    ASSERT_TRUE(WIFEXITED(status))
        << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(OpensForNobody(tuner.DevicePath())) << "the port was left in exclusive use";
  }
}

// The station module and the libraries that it alone brings (gensio's own, OpenSSL, avahi and
// what gensio links), as /proc/PID/maps names them.
const std::vector<std::string> kStationLibraries = {
    "/libavahi-client.so", "/libavahi-common.so", "/libcrypto.so",      "/libgensio.so",
    "/libgensiomdns.so",   "/libgensioosh.so",    "/libgssapi_krb5.so", "/libkrb5.so",
    "/libnsl.so",          "/libsctp.so",         "/libtirpc.so",       "/libwrap.so",
    "/station.so"};

std::vector<std::string> StationLibrariesMapped(pid_t pid) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::vector<std::string> mapped;
  for (std::string line; std::getline(maps, line);) {
    for (const std::string& library : kStationLibraries) {
      if (line.find(library) != std::string::npos &&
          std::find(mapped.begin(), mapped.end(), library) == mapped.end())
        mapped.push_back(library);
    }
  }
  std::sort(mapped.begin(), mapped.end());
  return mapped;
}

TEST(ProgramSignalTest, LoadsWhatStationsNeedOnlyForAStation) {
  for (const bool station : {false, true}) {
    SCOPED_TRACE(station ? "a station" : "a local port");
    QTemporaryDir ports;
    TTunerPty tuner;
    std::optional<TSer2Net> server;
    if (station) {
      server.emplace(tuner.DevicePath());
      server->Start();
      std::ofstream(ports.path().toStdString() + "/COM7") << server->Address() << "\n";
    } else {
      tuner.LinkAs(ports.path().toStdString(), "COM7");
    }
    const pid_t orvel = StartOrvel(ports.path().toStdString());
    ASSERT_GT(orvel, 0);
    const bool connected = tuner.WaitFor("ATU?\r\n", 10000);
    const std::vector<std::string> mapped = StationLibrariesMapped(orvel);
    ::kill(orvel, SIGTERM);
    ASSERT_EQ(::waitpid(orvel, nullptr, 0), orvel);
    ASSERT_TRUE(connected) << "the program did not open the port";
    EXPECT_EQ(mapped, station ? kStationLibraries : std::vector<std::string>());
  }
}

}  // namespace
