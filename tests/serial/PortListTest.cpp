// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The port list: the port directory's links, how names resolve to devices and back, the
// presence test of an open port, and the operator's reasons for a device that does not open.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <optional>

#include "serial/SerialPort.h"
#include "serial/posix/SystemMessage.h"
#include "tests/serial/PortsDirectoryFixture.h"
#include "tools/tuner-sim/PseudoTerminal.h"

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

TEST_F(PortListTest, BlankNamesAndFoldersAreNotPorts) {
  directory_.Link(" \t", first_.SlavePath());
  directory_.Link(" com4 ", first_.SlavePath());
  ASSERT_EQ(::mkdir((directory_.Path() + "/COM9").c_str(), 0700), 0);
  EXPECT_THAT(DirectoryNames(), ElementsAre("COM4"));
  ::rmdir((directory_.Path() + "/COM9").c_str());
}

// Each kind of entry in the port directory: a port (a link to a device, a device node, a file
// holding an address, even a malformed one) is listed; anything else is skipped with one note a
// run on standard error saying why, so that a mistyped entry still explains itself.
enum class TEntryKind { Link, NullDeviceNode, File, Fifo, Folder };

struct TEntryCase {
  const char* fileName;
  TEntryKind kind;
  std::string content;
  // The listed port's device, when it is not the entry's own link target or path.
  const char* device;
  // The note's reason for an entry that is skipped; null for a port.
  const char* skipped;
  // What opening the port says: empty when it opens; null when it is not tried.
  const char* openFailure;
};

class DirectoryEntryTest : public PortListTest, public testing::WithParamInterface<TEntryCase> {};

TEST_P(DirectoryEntryTest, IsListedWhenAPortAndElseSaysWhyNot) {
  const TEntryCase& entry = GetParam();
  const std::string path = directory_.Path() + "/" + entry.fileName;
  struct stat null {};
  switch (entry.kind) {
    case TEntryKind::Link:
      ASSERT_EQ(::symlink(first_.SlavePath().c_str(), path.c_str()), 0);
      break;
    case TEntryKind::NullDeviceNode:
      ASSERT_EQ(::stat("/dev/null", &null), 0);
      ASSERT_EQ(::mknod(path.c_str(), S_IFCHR | 0600, null.st_rdev), 0);
      break;
    case TEntryKind::File:
      std::ofstream(path, std::ios::binary) << entry.content;
      break;
    case TEntryKind::Fifo:
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      break;
    case TEntryKind::Folder:
      ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
      break;
  }
  testing::internal::CaptureStderr();
  const std::vector<std::string> names = DirectoryNames();
  const std::vector<std::string> again = DirectoryNames();
  const std::string noted = testing::internal::GetCapturedStderr();
  EXPECT_EQ(again, names);
  if (entry.skipped) {
    EXPECT_THAT(names, IsEmpty());
    EXPECT_EQ(noted,
              "orvel: port directory entry " + path + ": " + entry.skipped + "; not listed\n");
    return;
  }
  EXPECT_THAT(names, ElementsAre(entry.fileName));
  EXPECT_EQ(noted, "");
  const bool linked = entry.kind == TEntryKind::Link;
  EXPECT_EQ(port_.DevicePathOf(entry.fileName),
            entry.device ? entry.device : (linked ? first_.SlavePath() : path));
  if (!entry.openFailure) return;
  port_.SetCustomPortName(entry.fileName);
  port_.SetPort(spCustom);
  try {
    port_.Open();
    EXPECT_STREQ("", entry.openFailure);
  } catch (const ESerialPortException& error) {
    EXPECT_EQ(error.what(),
              "Cannot connect to " + std::string(entry.fileName) + ". " + entry.openFailure);
  }
}

using enum TEntryKind;

INSTANTIATE_TEST_SUITE_P(
    Kinds, DirectoryEntryTest,
    testing::Values(
        TEntryCase{"LINK", Link, "", nullptr, nullptr, ""},
        // A device all the same, which only the settings refuse.
        TEntryCase{"NODE", NullDeviceNode, "", nullptr, nullptr, "Inappropriate ioctl for device"},
        TEntryCase{"SHACK", File, "  rfc2217://shack.local:3001\r\nsecond line\n",
                   "rfc2217://shack.local:3001", nullptr, nullptr},
        // Meant as a port: listed, and opening it says what is wrong with the address.
        TEntryCase{"WRONG", File, "rfc2217:/shack:1\n", "rfc2217:/shack:1", nullptr,
                   "The address needs a host and a port (HOST:PORT)"},
        TEntryCase{"NOTES", File, "the tuner is in the shack\n", nullptr,
                   "its first line is not a network address", nullptr},
        TEntryCase{"EMPTY", File, "", nullptr, "an empty file, not a network address", nullptr},
        TEntryCase{"ZEROED", File, std::string(1 << 20, '\0'), nullptr,
                   "not text, so not a network address", nullptr},
        TEntryCase{"BINARY", File,
                   std::string("\x7f"
                               "ELF\0\1\2",
                               7),
                   nullptr, "not text, so not a network address", nullptr},
        TEntryCase{"FIFO", Fifo, "", nullptr, "a FIFO, not a device", nullptr},
        TEntryCase{"FOLDER", Folder, "", nullptr, "a folder, not a port", nullptr}),
    [](const testing::TestParamInfo<TEntryCase>& test) { return test.param.fileName; });

TEST_F(PortListTest, ListsNothingFromAMissingDirectory) {
  ::setenv("ORVEL_PORTS_DIR", "/nonexistent/orvel-ports", 1);
  EXPECT_THAT(DirectoryNames(), IsEmpty());
}

// Names that the list could not show as they are: skipped, each with one note on standard
// error; of two entries that give the same name, the one whose file name sorts first stands.
struct TNameCase {
  const char* fileName;
  const char* noted;  // a part of the note on standard error, or nothing
};

class PortNameTest : public PortListTest, public testing::WithParamInterface<TNameCase> {};

TEST_P(PortNameTest, ListsOnlyPrintableAsciiNamesOnceEach) {
  directory_.Link("COM9X", first_.SlavePath());
  directory_.Link(GetParam().fileName, second_.SlavePath());
  testing::internal::CaptureStderr();
  const std::vector<std::string> names = DirectoryNames();
  const std::vector<std::string> again = DirectoryNames();
  const std::string noted = testing::internal::GetCapturedStderr();
  EXPECT_THAT(names, ElementsAre("COM9X"));
  EXPECT_EQ(port_.DevicePathOf("COM9X"), first_.SlavePath());
  EXPECT_EQ(again, names);
  const std::string expected = std::string("orvel: port directory entry ") + directory_.Path() +
                               "/" + GetParam().noted + "; not listed\n";
  EXPECT_EQ(noted, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PortNameTest,
    testing::Values(TNameCase{"\xC3\x9CNI", "\\xC3\\x9CNI: a port name is printable ASCII"},
                    TNameCase{"two\nlines", "two\\x0Alines: a port name is printable ASCII"},
                    TNameCase{"com9x", "com9x: same port name as COM9X"},
                    TNameCase{"tab\tname", "tab\\x09name: a port name is printable ASCII"}));

// A port directory that cannot be read is told once on standard error; the detected devices
// are listed all the same. Only the default directory may be missing without a word.
struct TDirectoryCase {
  const char* name;
  std::function<std::string(const std::string& scratch)> prepare;  // gives ORVEL_PORTS_DIR
  const char* noted;  // the reason, or nothing when the listing is silent
};

class PortsDirectoryProblemTest : public testing::TestWithParam<TDirectoryCase> {};

TEST_P(PortsDirectoryProblemTest, IsToldOnceAndListsTheDetectedDevices) {
  const TPortsDirectoryFixture scratch;
  TSerialPort port;
  ::unsetenv("ORVEL_PORTS_DIR");
  std::vector<std::string> detected;
  port.ListPortNames(detected);
  const std::string directory = GetParam().prepare(scratch.Path());
  testing::internal::CaptureStderr();
  std::vector<std::string> names;
  port.ListPortNames(names);
  port.ListPortNames(names);
  const std::string noted = testing::internal::GetCapturedStderr();
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(names, detected);
  if (GetParam().noted[0] == '\0') {
    EXPECT_EQ(noted, "");
  } else {
    EXPECT_EQ(noted, "orvel: port directory " + directory + " (ORVEL_PORTS_DIR): " +
                         GetParam().noted + "; only the detected serial devices are listed\n");
  }
}

std::string Named(const std::string& path) {
  ::setenv("ORVEL_PORTS_DIR", path.c_str(), 1);
  return path;
}

INSTANTIATE_TEST_SUITE_P(
    Directories, PortsDirectoryProblemTest,
    testing::Values(TDirectoryCase{"AFile",
                                   [](const std::string& scratch) {
                                     std::ofstream(scratch + "/file") << "COM7";
                                     return Named(scratch + "/file");
                                   },
                                   "Not a directory"},
                    TDirectoryCase{
                        "Missing",
                        [](const std::string& scratch) { return Named(scratch + "/missing"); },
                        "No such file or directory"},
                    TDirectoryCase{"LinkLoop",
                                   [](const std::string& scratch) {
                                     ::symlink((scratch + "/loop").c_str(),
                                               (scratch + "/loop").c_str());
                                     return Named(scratch + "/loop");
                                   },
                                   "Too many levels of symbolic links"},
                    TDirectoryCase{"MissingDefault",
                                   [](const std::string& scratch) {
                                     ::setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
                                     return scratch + "/orvel/ports";
                                   },
                                   ""}),
    [](const testing::TestParamInfo<TDirectoryCase>& test) { return test.param.name; });

// The presence test looks at the open port's own entry first; whatever it finds, a fault
// means exactly that the port's name left the list. A name that leads to another device by now
// is still listed: the port, whose own device is still there, stays open.
struct TPresenceCase {
  const char* name;
  std::function<void(TPortsDirectoryFixture& directory, const TPseudoTerminal& other,
                     std::optional<TPortsDirectoryFixture>& otherDirectory)>
      change;
  bool faults;
};

class PresenceTest : public PortListTest, public testing::WithParamInterface<TPresenceCase> {};

TEST_P(PresenceTest, FaultsWhenTheNameIsNoLongerListed) {
  directory_.Link("COM7", first_.SlavePath());
  std::vector<std::string> events;
  std::atomic<bool> received = false;
  port_.OnReceive = [&](TSerialPort*, const std::string&) { received = true; };
  port_.OnFault = [&](TSerialPort*, TCommPort) { events.push_back("fault"); };
  port_.SetPort(spCOM7);
  // The receive thread's first pass reads this byte instead of testing presence; after it,
  // the thread sleeps, and the writes below run the presence test on this thread.
  port_.SetDelay(60000);
  first_.Write("x\n");
  pollfd waiting{first_.Slave(), POLLIN, 0};
  ASSERT_EQ(::poll(&waiting, 1, 10000), 1);
  port_.Open();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!received && std::chrono::steady_clock::now() < deadline) ::usleep(1000);
  ASSERT_TRUE(received);
  std::optional<TPortsDirectoryFixture> otherDirectory;
  GetParam().change(directory_, second_, otherDirectory);
  port_.SendString("b");
  EXPECT_EQ(port_.Faulted(), GetParam().faults);
  EXPECT_EQ(port_.ConnectedPort(), GetParam().faults ? spNone : spCOM7);
  EXPECT_EQ(events.size(), GetParam().faults ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, PresenceTest,
    testing::Values(
        TPresenceCase{"Nothing", [](auto&, auto&, auto&) {}, false},
        TPresenceCase{"LinkRemoved", [](auto& d, auto&, auto&) { d.Remove("COM7"); }, true},
        TPresenceCase{"LinkToNothing",
                      [](auto& d, auto&, auto&) {
                        d.Remove("COM7");
                        d.Link("COM7", d.Path() + "/nothing");
                      },
                      true},
        TPresenceCase{"LinkReplacedByAFile",
                      [](auto& d, auto&, auto&) {
                        d.Remove("COM7");
                        std::ofstream(d.Path() + "/COM7") << "x";
                      },
                      true},
        TPresenceCase{"LinkToAnotherDevice",
                      [](auto& d, auto& other, auto&) {
                        d.Remove("COM7");
                        d.Link("COM7", other.SlavePath());
                      },
                      false},
        TPresenceCase{"SameNameFromAnotherEntry",
                      [](auto& d, auto& other, auto&) {
                        d.Remove("COM7");
                        d.Link(" com7", other.SlavePath());
                      },
                      false},
        TPresenceCase{
            "SameNameAndDeviceFromAnotherEntry",
            [](auto& d, auto&, auto&) {
              ASSERT_EQ(::rename((d.Path() + "/COM7").c_str(), (d.Path() + "/ com7").c_str()), 0);
            },
            false},
        TPresenceCase{"AnotherDirectoryWithoutIt",
                      [](auto&, auto&, auto& otherDirectory) { otherDirectory.emplace(); }, true},
        TPresenceCase{"AnotherDirectoryWithIt",
                      [](auto& d, auto&, auto& otherDirectory) {
                        char device[256] = {};
                        ASSERT_GT(
                            ::readlink((d.Path() + "/COM7").c_str(), device, sizeof device - 1), 0);
                        otherDirectory.emplace();
                        otherDirectory->Link("COM7", device);
                      },
                      false}),
    [](const testing::TestParamInfo<TPresenceCase>& test) { return test.param.name; });

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

// Another Orvel holds the port by its lock; other processes (the far end's program, which
// keeps the pseudo-terminal's slave open too) merely hold it open and are not named.
TEST(SystemMessage, BusyNamesTheProcessThatHoldsTheLockOrNone) {
  TPseudoTerminal terminal;  // This process holds the slave side open, without a lock.
  EXPECT_EQ(SystemMessage(EBUSY, terminal.SlavePath()), "Device or resource busy");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const int fd = ::open(terminal.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    const char done = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 'y' : 'n';
    (void)!::write(ready[1], &done, 1);
    ::pause();
    ::_exit(0);
  }
  char done = 0;
  ASSERT_EQ(::read(ready[0], &done, 1), 1);
  const std::string message = SystemMessage(EBUSY, terminal.SlavePath());
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  ASSERT_EQ(done, 'y');
  std::string name;
  std::getline(std::ifstream("/proc/self/comm"), name);
  EXPECT_EQ(message, "Device or resource busy (in use by " + name + ", process " +
                         std::to_string(holder) + ")");
}

}  // namespace
