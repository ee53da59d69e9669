// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The port list: the port directory's links, how names resolve to devices and back, and the
// operator's reasons for a device that does not open.
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "PortsDirectoryFixture.h"
#include "PseudoTerminal.h"
#include "SerialPort.h"
#include "posix/SystemMessage.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

class PortListTest : public testing::Test {
 protected:
  // Only the directory's part: detected devices differ from machine to machine.
  std::vector<std::string> DirectoryNames() const {
    std::vector<std::string> names;
    port_.ListPortNames(names);
    std::vector<std::string> fromDirectory;
    for (const std::string& name : names) {
      if (port_.DevicePathOf(name).starts_with("/dev/tty") ||
          port_.DevicePathOf(name).starts_with("/dev/rfcomm")) {
        continue;
      }
      fromDirectory.push_back(name);
    }
    return fromDirectory;
  }

  TPortsDirectoryFixture directory_;
  TPseudoTerminal first_;
  TPseudoTerminal second_;
  TSerialPort port_;
};

TEST_F(PortListTest, ListsLinksWithALiveTargetUpperCasedInNameOrder) {
  directory_.Link("vcom2", second_.SlavePath());
  directory_.Link("COM7", first_.SlavePath());
  directory_.Link("gone", directory_.Path() + "/nothing-here");
  directory_.Link("com12", first_.SlavePath());
  EXPECT_THAT(DirectoryNames(), ElementsAre("COM12", "COM7", "VCOM2"));
}

TEST_F(PortListTest, BlankNamesAndPlainFilesAreNotPorts) {
  directory_.Link(" \t", first_.SlavePath());
  directory_.Link(" com4 ", first_.SlavePath());
  ASSERT_EQ(::mkdir((directory_.Path() + "/COM9").c_str(), 0700), 0);
  EXPECT_THAT(DirectoryNames(), ElementsAre("COM4"));
  ::rmdir((directory_.Path() + "/COM9").c_str());
}

TEST_F(PortListTest, ListsNothingFromAMissingDirectory) {
  ::setenv("ORVEL_PORTS_DIR", "/nonexistent/orvel-ports", 1);
  EXPECT_THAT(DirectoryNames(), IsEmpty());
}

TEST_F(PortListTest, IsPortListedIgnoresTheCaseOfTheNameAsked) {
  directory_.Link("vcom1", first_.SlavePath());
  EXPECT_TRUE(port_.IsPortListed("vcom1"));
  EXPECT_TRUE(port_.IsPortListed("VCOM1"));
  EXPECT_FALSE(port_.IsPortListed("vcom2"));
  directory_.Remove("vcom1");
  EXPECT_FALSE(port_.IsPortListed("VCOM1"));
}

TEST_F(PortListTest, NamesResolveToTheLinkedDeviceOrUnderDev) {
  directory_.Link("COM7", first_.SlavePath());
  directory_.Link("rel", "../../dev/null");
  EXPECT_EQ(port_.DevicePathOf("com7"), first_.SlavePath());
  EXPECT_EQ(port_.DevicePathOf("REL"), directory_.Path() + "/../../dev/null");
  EXPECT_EQ(port_.DevicePathOf("vcom1"), "/dev/vcom1");
  EXPECT_EQ(port_.DevicePathOf(" ttyUSB5 "), "/dev/ttyUSB5");
}

TEST_F(PortListTest, DevicePathsLeadBackToTheListedNameByDeviceNumber) {
  directory_.Link("COM7", first_.SlavePath());
  directory_.Link("VCOM2", second_.SlavePath());
  // A by-id style link elsewhere that points at the same device.
  const std::string byId = directory_.Path() + "-by-id";
  ASSERT_EQ(::symlink(second_.SlavePath().c_str(), byId.c_str()), 0);
  EXPECT_EQ(port_.ListedNameOfDevice(first_.SlavePath()), "COM7");
  EXPECT_EQ(port_.ListedNameOfDevice(byId), "VCOM2");
  EXPECT_EQ(port_.ListedNameOfDevice("/dev/null"), "");
  EXPECT_EQ(port_.ListedNameOfDevice("/nonexistent"), "");
  ::unlink(byId.c_str());
}

struct TMessageCase {
  int error;
  const char* expected;
  bool namesGroup;
};

class SystemMessageTest : public testing::TestWithParam<TMessageCase> {};

TEST_P(SystemMessageTest, SaysWhyInTheOperatorsWords) {
  TPseudoTerminal terminal;
  struct stat status {};
  ASSERT_EQ(::stat(terminal.SlavePath().c_str(), &status), 0);
  std::string expected = GetParam().expected;
  if (GetParam().namesGroup) {
    // Usually tty; whatever group this system's pseudo-terminals get.
    const group* owner = ::getgrgid(status.st_gid);
    ASSERT_NE(owner, nullptr);
    expected += std::string(" (the device belongs to group ") + owner->gr_name + ")";
  }
  EXPECT_EQ(SystemMessage(GetParam().error, terminal.SlavePath()), expected);
}

INSTANTIATE_TEST_SUITE_P(Errors, SystemMessageTest,
                         testing::Values(TMessageCase{ENOENT, "No such file or directory", false},
                                         TMessageCase{EACCES, "Permission denied", true},
                                         TMessageCase{EPERM, "Operation not permitted", true},
                                         TMessageCase{EINVAL, "Invalid argument", false}));

TEST(SystemMessage, BusyNamesTheProgramThatHoldsTheDevice) {
  TPseudoTerminal terminal;  // This process holds the slave side open.
  std::string name;
  std::getline(std::ifstream("/proc/self/comm"), name);
  EXPECT_EQ(SystemMessage(EBUSY, terminal.SlavePath()), "Device or resource busy (in use by " +
                                                            name + ", process " +
                                                            std::to_string(::getpid()) + ")");
}

}  // namespace
