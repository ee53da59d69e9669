// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The serial port object on real pseudo-terminals: opening, receiving, sending, the vanished
// port and closing, with events handed to a fake user-interface thread.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "serial/SerialPort.h"
#include "serial/Trace.h"
#include "tests/serial/FakeUiThread.h"
#include "tests/serial/PortsDirectoryFixture.h"
#include "tests/serial/TermiosProbe.h"
#include "tools/tuner-sim/PseudoTerminal.h"

namespace {

using namespace std::chrono_literals;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::StartsWith;

std::string PortText(TCommPort port) {
  return CommPortToName(port, "custom");
}

class SerialPortTest : public testing::Test {
 protected:
  SerialPortTest() {
    directory_.Link("COM7", terminal_.SlavePath());
    port_.SetUiHandOver(&ui_);
    port_.SetPort(spCOM7);
    port_.OnConnect = [this](TSerialPort* sender, TCommPort port) {
      EXPECT_EQ(sender, &port_);
      events_.push_back("connect " + PortText(port));
    };
    port_.OnDisconnect = [this](TSerialPort* sender, TCommPort port) {
      EXPECT_EQ(sender, &port_);
      EXPECT_TRUE(ui_.InUiThread());
      events_.push_back((insideClose_ ? "disconnect in Close " : "disconnect ") + PortText(port));
    };
    port_.OnFault = [this](TSerialPort* sender, TCommPort port) {
      EXPECT_EQ(sender, &port_);
      events_.push_back("fault " + PortText(port));
    };
    port_.OnReceive = [this](TSerialPort* sender, const std::string& buffer) {
      EXPECT_EQ(sender, &port_);
      EXPECT_TRUE(ui_.InUiThread());
      received_.push_back(buffer);
    };
  }

  void CloseMarked() {
    insideClose_ = true;
    port_.Close();
    insideClose_ = false;
  }

  bool WaitForReceived(std::size_t count) {
    return ui_.WaitUntil([&] { return received_.size() >= count; });
  }

  TPortsDirectoryFixture directory_;
  TPseudoTerminal terminal_;
  TFakeUiThread ui_;
  std::vector<std::string> events_;
  std::vector<std::string> received_;
  bool insideClose_ = false;
  // Last, so that it closes before the terminal and the directory go.
  TSerialPort port_;
};

TEST_F(SerialPortTest, OpenWithoutAPortNameDoesNothing) {
  port_.SetPort(spNone);
  EXPECT_NO_THROW(port_.Open());
  EXPECT_EQ(port_.ConnectedPort(), spNone);
  EXPECT_TRUE(events_.empty());
}

TEST_F(SerialPortTest, OpenConnectsOnceAndCloseDisconnectsInsideClose) {
  port_.Open();
  EXPECT_EQ(port_.ConnectedPort(), spCOM7);
  port_.Open();
  CloseMarked();
  EXPECT_EQ(port_.ConnectedPort(), spNone);
  EXPECT_THAT(events_, ElementsAre("connect COM7", "disconnect in Close COM7"));
}

// A pseudo-terminal keeps its exclusive mode for as long as the pair exists, so the port lifts
// it as it closes: otherwise no other program (nor Orvel run by a user) could open it again.
TEST_F(SerialPortTest, CloseLiftsTheExclusiveMode) {
  port_.Open();
  port_.Close();
  ASSERT_EQ(::chmod(terminal_.SlavePath().c_str(), 0666), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    // Root is not held back by the exclusive mode: open as nobody.
    if (::geteuid() == 0 && ::setuid(65534) != 0) _exit(10);
    const int fd = ::open(terminal_.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    _exit(fd >= 0 ? 0 : (errno == EBUSY ? 11 : 12));
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "11: busy, 12: another error";
}

TEST_F(SerialPortTest, OpeningAnotherPortClosesTheFirstBeforehand) {
  TPseudoTerminal other;
  directory_.Link("vcom1", other.SlavePath());
  port_.Open();
  port_.SetPort(spCustom);
  port_.Open();
  EXPECT_EQ(port_.ConnectedPort(), spCustom);
  EXPECT_THAT(events_, ElementsAre("connect COM7", "disconnect COM7", "connect custom"));
  // The first device really is free again.
  TSerialPort second;
  second.SetPort(spCOM7);
  EXPECT_NO_THROW(second.Open());
}

TEST_F(SerialPortTest, ReopeningACustomPortUnderANewNameDoesNothing) {
  directory_.Link("vcom1", terminal_.SlavePath());
  port_.SetPort(spCustom);
  port_.Open();
  port_.SetCustomPortName("vcom9");
  EXPECT_EQ(port_.PortName(), "vcom9");
  port_.Open();
  EXPECT_EQ(port_.ConnectedPort(), spCustom);
  EXPECT_THAT(events_, ElementsAre("connect custom"));
}

TEST_F(SerialPortTest, RaisingConnectHandlerFailsTheOpenAndReleasesTheDevice) {
  port_.OnConnect = [](TSerialPort*, TCommPort) { throw std::runtime_error("not now"); };
  EXPECT_THROW(port_.Open(), std::runtime_error);
  EXPECT_EQ(port_.ConnectedPort(), spNone);
  EXPECT_THAT(events_, ElementsAre("disconnect COM7"));
  TSerialPort second;
  second.SetPort(spCOM7);
  EXPECT_NO_THROW(second.Open());
}

TEST_F(SerialPortTest, MissingPortRaisesAndLeavesTheObjectClosed) {
  port_.SetPort(spCOM200);
  port_.SetDelay(20);
  try {
    port_.Open();
    FAIL() << "no exception";
  } catch (const ESerialPortException& error) {
    EXPECT_EQ(error.Kind(), TSerialErrorKind::NotFound);
    EXPECT_STREQ(error.what(), "Cannot connect to COM200. No such file or directory");
  }
  EXPECT_EQ(port_.ConnectedPort(), spNone);
  EXPECT_FALSE(port_.HoldsTimerResolution());
  EXPECT_THROW(port_.SendString("x"), ESerialPortException);
  EXPECT_TRUE(events_.empty());
}

TEST_F(SerialPortTest, SecondUserOfAPortIsToldWhoHoldsIt) {
  port_.Open();
  TSerialPort second;
  second.SetPort(spCOM7);
  try {
    second.Open();
    FAIL() << "no exception";
  } catch (const ESerialPortException& error) {
    EXPECT_EQ(error.Kind(), TSerialErrorKind::Busy);
    EXPECT_THAT(error.what(),
                StartsWith("Cannot connect to COM7. Device or resource busy (in use by "));
    EXPECT_THAT(error.what(), HasSubstr("process " + std::to_string(::getpid()) + ")"));
  }
  EXPECT_EQ(port_.ConnectedPort(), spCOM7);
}

TEST_F(SerialPortTest, BytesArrivingBetweenPassesComeAsOneChunkWithTheirNulBytes) {
  port_.OnReceive = [this](TSerialPort*, const std::string& buffer) {
    received_.push_back(buffer);
    // The receive thread waits for this handler, so both writes land before its next pass.
    if (received_.size() == 1) {
      terminal_.Write(std::string("AB\0C", 4));
      terminal_.Write("D\r\n");
    }
  };
  port_.Open();
  terminal_.Write("go");
  ASSERT_TRUE(WaitForReceived(2));
  EXPECT_THAT(received_, ElementsAre("go", std::string("AB\0CD\r\n", 7)));
  EXPECT_EQ(port_.LastReceived(), std::string("AB\0CD\r\n", 7));
}

// A status line as the tuner sends it at 9600 bits per second, a byte every 1.04 ms, after the
// receive thread has gone to sleep: the bytes within one Delay of the first come with it. A
// line that did not wait whole in the terminal's queue within half a Delay (the test or the
// kernel held up on a loaded machine) proves nothing and is sent again.
TEST_F(SerialPortTest, LineTrickledAfterAQuietSpellComesAsOneChunk) {
  using TClock = std::chrono::steady_clock;
  constexpr int Lines = 20;
  constexpr auto Delay = 100ms;
  const std::string line = "SWR: 15\r\n";
  port_.SetDelay(Delay.count());
  port_.Open();
  int whole = 0;
  int written = 0;
  for (int attempt = 0; written < Lines && attempt < 10 * Lines; ++attempt) {
    ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ReceiveThreadAsleep(); }));
    const std::size_t before = received_.size();
    const TClock::time_point start = TClock::now();
    for (std::size_t byte = 0; byte < line.size(); ++byte) {
      // The pace of the line itself, not a wait for the port.
      std::this_thread::sleep_until(start + byte * 1042us);
      terminal_.Write(line.substr(byte, 1));
    }
    bool inTime = false;
    while (!inTime && TClock::now() - start < Delay / 2) {
      int waiting = 0;
      inTime = ::ioctl(terminal_.Slave(), FIONREAD, &waiting) == 0 &&
               waiting == static_cast<int>(line.size());
      if (!inTime) std::this_thread::yield();
    }
    std::string arrived;
    ASSERT_TRUE(ui_.WaitUntil([&] {
      arrived.clear();
      for (std::size_t chunk = before; chunk < received_.size(); ++chunk)
        arrived += received_[chunk];
      return arrived.size() >= line.size();
    }));
    ASSERT_EQ(arrived, line);
    if (!inTime) continue;
    ++written;
    if (received_.size() == before + 1) ++whole;
  }
  EXPECT_EQ(written, Lines);
  EXPECT_EQ(whole, written);
}

TEST_F(SerialPortTest, AnnounceModeAnnouncesOnlyGrowingCounts) {
  port_.SetDelay(50);
  port_.SetAutoReceive(false);
  port_.Open();
  terminal_.Write("12345");
  ASSERT_TRUE(WaitForReceived(1));
  EXPECT_EQ(received_[0], "");
  EXPECT_EQ(port_.AnnouncedCount(), 5u);
  // Several passes see the same five bytes; none of them may announce again.
  const std::uint64_t passes = port_.ReceivePasses();
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ReceivePasses() >= passes + 3; }));
  terminal_.Write("67");
  ASSERT_TRUE(WaitForReceived(2));
  EXPECT_THAT(received_, ElementsAre("", ""));
  EXPECT_EQ(port_.AnnouncedCount(), 7u);

  port_.SetAutoReceive(true);
  EXPECT_EQ(port_.AnnouncedCount(), 0u);
  ASSERT_TRUE(WaitForReceived(3));
  EXPECT_EQ(received_[2], "1234567");
}

TEST_F(SerialPortTest, AnnouncedCountStartsAgainAfterReopening) {
  port_.SetAutoReceive(false);
  port_.Open();
  terminal_.Write("abc");
  ASSERT_TRUE(WaitForReceived(1));
  port_.Close();
  EXPECT_EQ(port_.AnnouncedCount(), 0u);
  // Closing discarded the three bytes; two new ones are fewer, and still announced.
  port_.Open();
  terminal_.Write("de");
  ASSERT_TRUE(WaitForReceived(2));
  EXPECT_EQ(port_.AnnouncedCount(), 2u);
}

TEST_F(SerialPortTest, EntireBufferKeepsEveryChunkSinceOpen) {
  port_.SetKeepEntireBuffer(true);
  port_.OnReceive = [this](TSerialPort*, const std::string& buffer) {
    received_.push_back(buffer);
    if (received_.size() == 1) terminal_.Write("second");
  };
  port_.Open();
  terminal_.Write("first,");
  ASSERT_TRUE(WaitForReceived(2));
  EXPECT_EQ(port_.EntireBuffer(), "first,second");
  port_.Close();
  port_.Open();
  EXPECT_EQ(port_.EntireBuffer(), "");
}

class SerialPortLogTest : public SerialPortTest {
 protected:
  SerialPortLogTest() : logPath_(directory_.Path() + "/receive.log") {
    port_.SetLogFile(logPath_);
    port_.SetLogInput(true);
    port_.OnReceive = [this](TSerialPort*, const std::string& buffer) {
      received_.push_back(buffer);
      if (received_.size() == 1) terminal_.Write("CD");
    };
  }
  std::string LogText() const {
    std::ifstream file(logPath_, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  const std::string logPath_;
};

TEST_F(SerialPortLogTest, WithoutDateAndTimeTheChunksFollowOneAnother) {
  port_.Open();
  terminal_.Write(std::string("A\0B", 3));
  ASSERT_TRUE(WaitForReceived(2));
  ASSERT_TRUE(ui_.WaitUntil([&] { return LogText().size() == 5; }));
  EXPECT_EQ(LogText(), std::string("A\0BCD", 5));
}

TEST_F(SerialPortLogTest, WithDateAndTimeEachChunkIsOneLine) {
  port_.SetLogDateTime(true);
  port_.Open();
  terminal_.Write("AB");
  ASSERT_TRUE(WaitForReceived(2));
  const std::regex entry(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d )");
  ASSERT_TRUE(ui_.WaitUntil([&] { return LogText().find("CD\r\n") != std::string::npos; }));
  const std::string log = LogText();
  EXPECT_TRUE(std::regex_match(log, std::regex(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d AB\r\n)"
                                               R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d CD\r\n)")))
      << log;
}

TEST_F(SerialPortLogTest, AnUnusableLogFileDoesNotStopReception) {
  port_.SetLogFile(directory_.Path() + "/no-such-folder/receive.log");
  port_.Open();
  terminal_.Write("AB");
  ASSERT_TRUE(WaitForReceived(2));
  EXPECT_THAT(received_, ElementsAre("AB", "CD"));
  EXPECT_EQ(port_.ConnectedPort(), spCOM7);
}

TEST_F(SerialPortTest, RaisingReceiveHandlerDoesNotStopReception) {
  port_.OnReceive = [this](TSerialPort*, const std::string& buffer) {
    received_.push_back(buffer);
    if (received_.size() == 1) {
      terminal_.Write("next");
      throw std::runtime_error("handler failed");
    }
  };
  port_.Open();
  terminal_.Write("first");
  ASSERT_TRUE(WaitForReceived(2));
  EXPECT_THAT(received_, ElementsAre("first", "next"));
  EXPECT_EQ(port_.ConnectedPort(), spCOM7);
}

TEST_F(SerialPortTest, SendStringWritesUpToTheFirstNulAndReportsThatPart) {
  std::vector<std::string> sent;
  port_.OnSend = [&](TSerialPort*, const std::string& buffer) { sent.push_back(buffer); };
  port_.Open();
  EXPECT_EQ(port_.SendString("ATU?\r\n"), 6u);
  EXPECT_EQ(port_.SendString(std::string("SW\0RX", 5)), 2u);
  EXPECT_EQ(port_.SendString(std::string("\0RX", 3)), 0u);
  EXPECT_EQ(terminal_.Read(), "ATU?\r\nSW");
  EXPECT_THAT(sent, ElementsAre("ATU?\r\n", "SW"));
  EXPECT_FALSE(port_.Sending());
}

TEST_F(SerialPortTest, RaisingSendHandlerBecomesTheNotOpenError) {
  port_.OnSend = [](TSerialPort*, const std::string&) { throw std::runtime_error("oops"); };
  port_.Open();
  try {
    port_.SendString("TUNE\r\n");
    FAIL() << "no exception";
  } catch (const ESerialPortException& error) {
    EXPECT_EQ(error.Kind(), TSerialErrorKind::NotOpen);
  }
  EXPECT_EQ(terminal_.Read(), "TUNE\r\n");
  EXPECT_EQ(port_.ConnectedPort(), spCOM7);
  EXPECT_FALSE(port_.Sending());
}

// Nobody reads the far end, so the terminal's queue fills up and stays full.
TEST_F(SerialPortTest, WriteThatTheOtherEndDoesNotTakeReturnsTheCountWritten) {
  std::vector<std::string> sent;
  port_.OnSend = [&](TSerialPort*, const std::string& buffer) { sent.push_back(buffer); };
  port_.SetWriteTotalTimeoutMultiplier(0);
  port_.SetWriteTotalTimeoutConstant(100);
  port_.Open();
  const std::string text(1 << 20, 'x');
  std::uint32_t written = 0;
  ASSERT_NO_THROW(written = port_.SendString(text));
  ASSERT_GT(written, 0u);
  ASSERT_LT(written, text.size());
  // The next write does not go out whole either, and waits its own time-out (counted in
  // whole milliseconds) for what it can get through.
  const std::string more(1 << 16, 'y');
  const auto start = std::chrono::steady_clock::now();
  const std::uint32_t second = port_.SendString(more);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 99ms);
  ASSERT_LT(second, more.size());
  std::vector<std::string> reported = {text.substr(0, written)};
  if (second > 0) reported.push_back(more.substr(0, second));
  EXPECT_EQ(sent, reported);
  EXPECT_EQ(port_.ConnectedPort(), spCOM7);
  EXPECT_FALSE(port_.Sending());
  // Once the other end reads again, so does the port write.
  EXPECT_FALSE(terminal_.Read(20ms).empty());
  EXPECT_EQ(port_.SendString("TUNE\r\n"), 6u);
  EXPECT_EQ(sent.back(), "TUNE\r\n");
}

// A signal handler ends every write at once with what it has written. The abort holds for
// good, so it runs in a child.
TEST_F(SerialPortTest, AbortedWritesEndAtOnceWhileWaitingAndAfterwards) {
  const pid_t child = ::fork();
  if (child == 0) {
    struct sigaction action {};
    action.sa_handler = [](int) { TSerialPort::AbortWrites(); };
    ::sigaction(SIGALRM, &action, nullptr);
    TSerialPort port;
    port.SetPort(spCOM7);
    port.SetWriteTotalTimeoutMultiplier(0);
    port.SetWriteTotalTimeoutConstant(60000);
    port.Open();
    std::string sent;
    port.OnSend = [&](TSerialPort*, const std::string& buffer) { sent += buffer; };
    itimerval timer{};
    timer.it_value.tv_usec = 200000;
    const auto start = std::chrono::steady_clock::now();
    ::setitimer(ITIMER_REAL, &timer, nullptr);
    const std::string text(1 << 20, 'x');
    const std::uint32_t waiting = port.SendString(text);
    // Without the abort the write would have taken its whole 2 s.
    const bool cutShort = std::chrono::steady_clock::now() - start < 2s;
    // With room in the queue again, only the abort keeps the next write from going out.
    terminal_.Read(20ms);
    const std::uint32_t later = port.SendString("ATU?\r\n");
    port.Close();
    if (!cutShort) _exit(1);
    if (waiting == 0 || waiting >= text.size() || sent != text.substr(0, waiting)) _exit(2);
    _exit(later == 0 ? 0 : 3);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "1: the waiting write ran its time, 2: its count or report, 3: the later write went out";
}

// The support trace of one short connection, in a child whose standard error the test reads;
// with only another area traced, the same connection leaves no line.
TEST_F(SerialPortTest, TraceTellsEachDeviceCallAndEachWaitWithItsTime) {
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipeEnds[1], STDERR_FILENO);
    ::close(pipeEnds[0]);
    auto connection = [this] {
      TSerialPort port;
      port.SetPort(spCOM7);
      port.SetDelay(50);
      port.Open();
      terminal_.Write("x");
      const auto deadline = std::chrono::steady_clock::now() + 5s;
      while (port.LastReceived().empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
      }
      while (!port.ReceiveThreadAsleep() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
      }
      port.Close();
    };
    TTrace::SetAreas("serial");
    connection();
    TTrace::SetAreas("network");
    connection();
    _exit(0);
  }
  ::close(pipeEnds[1]);
  std::string trace;
  char buffer[4096];
  for (ssize_t count; (count = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
    trace.append(buffer, static_cast<std::size_t>(count));
  }
  ::close(pipeEnds[0]);
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  std::vector<std::string> calls;
  std::istringstream lines(trace);
  const std::regex format(R"(\[\d+\.\d{6}\] serial \d+: (.*))");
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, format)) << line;
    calls.push_back(match[1]);
  }
  for (const std::string& expected :
       {"open " + terminal_.SlavePath() + ": descriptor \\d+", std::string("settings 4800 bps.*"),
        std::string("receive thread starts"), std::string("modem lines: none"),
        std::string("waiting 1"), std::string("read 1 of 1"), std::string("sleep"),
        std::string("close \\d+"), std::string("receive thread ends")}) {
    EXPECT_TRUE(std::any_of(
        calls.begin(), calls.end(),
        [&](const std::string& call) { return std::regex_match(call, std::regex(expected)); }))
        << expected << "\n"
        << trace;
  }
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "receive thread starts"), 1);
}

TEST_F(SerialPortTest, FaultHandlerThatClosesEndsWithTheFaultAlone) {
  port_.OnFault = [this](TSerialPort*, TCommPort port) {
    events_.push_back("fault " + PortText(port));
    port_.Close();
  };
  port_.Open();
  terminal_.CloseSlave();
  directory_.Remove("COM7");
  ASSERT_TRUE(ui_.WaitUntil([&] { return terminal_.SlaveReleased(); }));
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ConnectedPort() == spNone; }));
  EXPECT_THAT(events_, ElementsAre("connect COM7", "fault COM7"));
  EXPECT_TRUE(port_.Faulted());
}

TEST_F(SerialPortTest, IdlePortSleepsUntilBytesComeAndClosesAtOnce) {
  port_.SetDelay(50);
  port_.Open();
  terminal_.Write("a");
  ASSERT_TRUE(WaitForReceived(1));
  // A thread that polled every Delay would never sleep without a time limit.
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ReceiveThreadAsleep(); }));
  const std::uint64_t passes = port_.ReceivePasses();
  terminal_.Write("b");
  ASSERT_TRUE(WaitForReceived(2));
  EXPECT_THAT(received_, ElementsAre("a", "b"));
  // One pass for the bytes, none for the quiet time before them.
  EXPECT_EQ(port_.ReceivePasses(), passes + 1);
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ReceiveThreadAsleep(); }));
  CloseMarked();
  EXPECT_THAT(events_, ElementsAre("connect COM7", "disconnect in Close COM7"));
}

// What happens to the open port while it is idle, given the port's terminal and another one,
// how the test puts things back, and whether the port is lost by it.
struct TVanishCase {
  const char* name;
  std::function<void(TPortsDirectoryFixture&, TPseudoTerminal&, TPseudoTerminal&)> change;
  std::function<void(TPortsDirectoryFixture&)> undo = nullptr;
  bool lost = true;
  // A second change, once the thread has looked at the first and sleeps again.
  std::function<void(TPortsDirectoryFixture&)> then = nullptr;
};

// Puts a link to `target` in the place of COM7 in one step.
void ReplaceLink(TPortsDirectoryFixture& d, const std::string& target) {
  const std::string next = d.Path() + "/.COM7";
  ASSERT_EQ(::symlink(target.c_str(), next.c_str()), 0);
  ASSERT_EQ(::rename(next.c_str(), (d.Path() + "/COM7").c_str()), 0);
}

class SerialPortVanishTest : public SerialPortTest,
                             public testing::WithParamInterface<TVanishCase> {
 protected:
  TPseudoTerminal other_;
};

TEST_P(SerialPortVanishTest, IdlePortFaultsThenDisconnectsOnlyWhenLost) {
  port_.Open();
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ReceiveThreadAsleep(); }));
  const std::uint64_t passes = port_.ReceivePasses();
  GetParam().change(directory_, terminal_, other_);
  if (!GetParam().lost || GetParam().then) {
    // The change wakes the thread; once its presence test has run, it sleeps again.
    ASSERT_TRUE(ui_.WaitUntil(
        [&] { return port_.ReceivePasses() > passes && port_.ReceiveThreadAsleep(); }));
  }
  if (GetParam().then) GetParam().then(directory_);
  if (!GetParam().lost) {
    terminal_.Write("in");
    ASSERT_TRUE(WaitForReceived(1));
    EXPECT_EQ(port_.SendString("out"), 3u);
    EXPECT_EQ(terminal_.Read(), "out");
    EXPECT_THAT(events_, ElementsAre("connect COM7"));
    EXPECT_FALSE(port_.Faulted());
    return;
  }
  const bool closed = ui_.WaitUntil([&] { return port_.ConnectedPort() == spNone; });
  if (GetParam().undo) GetParam().undo(directory_);
  ASSERT_TRUE(closed);
  EXPECT_THAT(events_, ElementsAre("connect COM7", "fault COM7", "disconnect COM7"));
  EXPECT_TRUE(port_.Faulted());
}

INSTANTIATE_TEST_SUITE_P(
    Changes, SerialPortVanishTest,
    testing::Values(
        TVanishCase{"EntryRemoved", [](TPortsDirectoryFixture& d, TPseudoTerminal&,
                                       TPseudoTerminal&) { d.Remove("COM7"); }},
        TVanishCase{"EntryReplacedByADeadLink",
                    [](TPortsDirectoryFixture& d, TPseudoTerminal&, TPseudoTerminal&) {
                      ReplaceLink(d, d.Path() + "/nothing-here");
                    }},
        TVanishCase{"FarEndGone", [](TPortsDirectoryFixture&, TPseudoTerminal& terminal,
                                     TPseudoTerminal&) { terminal.CloseMaster(); }},
        // Plugged in again at once: another device under the same name before the next look.
        TVanishCase{
            "ReplacedAtOnceUnderTheSameName",
            [](TPortsDirectoryFixture& d, TPseudoTerminal& terminal, TPseudoTerminal& other) {
              terminal.CloseMaster();
              ReplaceLink(d, other.SlavePath());
            }},
        // Its name is still listed and the device still there: the port goes on working.
        TVanishCase{"EntryLeadsToAnotherDeviceWhileItsOwnStays",
                    [](TPortsDirectoryFixture& d, TPseudoTerminal&, TPseudoTerminal& other) {
                      ReplaceLink(d, other.SlavePath());
                    },
                    nullptr, false},
        // ... through a link of its own (as by-id links are), which then goes: the name leads
        // nowhere, though nothing is sent on the port.
        TVanishCase{"EntryLeadsToAnotherDeviceThenNowhere",
                    [](TPortsDirectoryFixture& d, TPseudoTerminal&, TPseudoTerminal& other) {
                      d.Link("HOP", other.SlavePath());
                      ReplaceLink(d, d.Path() + "/HOP");
                    },
                    nullptr, true, [](TPortsDirectoryFixture& d) { d.Remove("HOP"); }},
        TVanishCase{"PortDirectoryMoved",
                    [](TPortsDirectoryFixture& d, TPseudoTerminal&, TPseudoTerminal&) {
                      ASSERT_EQ(::rename(d.Path().c_str(), (d.Path() + ".moved").c_str()), 0);
                    },
                    [](TPortsDirectoryFixture& d) {
                      ::rename((d.Path() + ".moved").c_str(), d.Path().c_str());
                    }},
        // Nothing tells of a changed environment: it counts from the port's next pass.
        TVanishCase{
            "OtherPortDirectoryNamed",
            [](TPortsDirectoryFixture&, TPseudoTerminal& terminal, TPseudoTerminal&) {
              ::setenv("ORVEL_PORTS_DIR", "/nonexistent/orvel-ports", 1);
              terminal.Write("x");
            },
            [](TPortsDirectoryFixture& d) { ::setenv("ORVEL_PORTS_DIR", d.Path().c_str(), 1); }}),
    [](const auto& instance) { return std::string(instance.param.name); });

TEST_F(SerialPortTest, ShortDelayNeverDeclaresAFault) {
  port_.SetDelay(20);
  port_.Open();
  EXPECT_TRUE(port_.HoldsTimerResolution());
  directory_.Remove("COM7");
  // Passes at Delay 20 with the link gone; then data proves that the port still polls.
  const std::uint64_t passes = port_.ReceivePasses();
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ReceivePasses() >= passes + 3; }));
  terminal_.Write("still here");
  ASSERT_TRUE(WaitForReceived(1));
  EXPECT_EQ(port_.ConnectedPort(), spCOM7);
  EXPECT_FALSE(port_.Faulted());
  EXPECT_THAT(events_, ElementsAre("connect COM7"));
  port_.Close();
  EXPECT_FALSE(port_.HoldsTimerResolution());
}

TEST_F(SerialPortTest, DelayShortenedWhileOpenRequestsNoTimerResolution) {
  port_.Open();
  port_.SetDelay(20);
  EXPECT_FALSE(port_.HoldsTimerResolution());
  port_.Close();
  port_.SetDelay(100);
  port_.SetDelay(30);
  port_.Open();
  port_.SetDelay(100);
  EXPECT_TRUE(port_.HoldsTimerResolution());
  port_.Close();
  EXPECT_FALSE(port_.HoldsTimerResolution());
}

TEST_F(SerialPortTest, SendStringOnAVanishedPortFaultsAndClosesOnTheCallersThread) {
  // The receive thread's first pass finds the port; then it sleeps and the write finds the
  // fault.
  port_.SetDelay(60000);
  port_.Open();
  directory_.Remove("COM7");
  insideClose_ = true;
  port_.SendString("x");
  insideClose_ = false;
  EXPECT_EQ(port_.ConnectedPort(), spNone);
  EXPECT_THAT(events_, ElementsAre("connect COM7", "fault COM7", "disconnect in Close COM7"));
}

TEST_F(SerialPortTest, CloseInsideAHandlerReturnsAtOnceAndTheThreadEndsByItself) {
  int pollsInsideClose = -1;
  port_.OnReceive = [&](TSerialPort*, const std::string& buffer) {
    received_.push_back(buffer);
    const int before = ui_.ProcessCalls();
    port_.Close();
    pollsInsideClose = ui_.ProcessCalls() - before;
    // The thread waits for this handler, so it cannot have ended yet.
    EXPECT_EQ(port_.ConnectedPort(), spCOM7);
  };
  port_.Open();
  terminal_.CloseSlave();
  terminal_.Write("bye");
  ASSERT_TRUE(WaitForReceived(1));
  EXPECT_EQ(pollsInsideClose, 0);
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ConnectedPort() == spNone; }));
  ASSERT_TRUE(ui_.WaitUntil([&] { return terminal_.SlaveReleased(); }));
  EXPECT_THAT(events_, ElementsAre("connect COM7", "disconnect COM7"));
  EXPECT_THROW(port_.SendString("x"), ESerialPortException);
}

TEST_F(SerialPortTest, ClosePortClickWhileTheReceiveHandlerLetsEventsRun) {
  int pollsInsideClose = -1;
  port_.OnReceive = [&](TSerialPort*, const std::string& buffer) {
    received_.push_back(buffer);
    ui_.Post([&] {
      const int before = ui_.ProcessCalls();
      port_.Close();
      pollsInsideClose = ui_.ProcessCalls() - before;
    });
    ui_.ProcessPendingEvents();
  };
  port_.Open();
  terminal_.Write("line\r\n");
  ASSERT_TRUE(WaitForReceived(1));
  EXPECT_EQ(pollsInsideClose, 0);
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ConnectedPort() == spNone; }));
  // Opening again right away gets the device: the old thread has let it go.
  port_.Open();
  EXPECT_EQ(port_.ConnectedPort(), spCOM7);
}

// A handler that closes and opens the same port again (a Close Port click and an Open Port
// click while the receive handler lets events run), with a second Close in between or not.
class SerialPortReopenInHandlerTest : public SerialPortTest,
                                      public testing::WithParamInterface<int> {};

TEST_P(SerialPortReopenInHandlerTest, OpensThePortAgain) {
  bool reopened = false;
  port_.OnReceive = [&](TSerialPort*, const std::string& buffer) {
    received_.push_back(buffer);
    if (received_.size() != 1) return;
    for (int close = 0; close < GetParam(); ++close) port_.Close();
    port_.Open();
    reopened = true;
  };
  port_.Open();
  terminal_.Write("first");
  ASSERT_TRUE(WaitForReceived(1));
  EXPECT_TRUE(reopened);
  terminal_.Write("second");
  ASSERT_TRUE(WaitForReceived(2));
  EXPECT_EQ(received_[1], "second");
  EXPECT_EQ(port_.ConnectedPort(), spCOM7);
}

INSTANTIATE_TEST_SUITE_P(Closes, SerialPortReopenInHandlerTest, testing::Values(1, 2),
                         [](const auto& instance) {
                           return instance.param == 1 ? std::string("CloseOpen")
                                                      : std::string("CloseCloseOpen");
                         });

TEST_F(SerialPortTest, EventsRunOnTheReceiveThreadWithoutHandOver) {
  port_.SetSynchronizeEvents(false);
  port_.OnDisconnect = nullptr;
  std::atomic<bool> onUiThread = true;
  std::atomic<int> chunks = 0;
  port_.OnReceive = [&](TSerialPort*, const std::string&) {
    onUiThread = ui_.InUiThread();
    ++chunks;
  };
  port_.Open();
  terminal_.Write("x");
  ASSERT_TRUE(ui_.WaitUntil([&] { return chunks > 0; }));
  EXPECT_FALSE(onUiThread);
}

TEST_F(SerialPortTest, PseudoTerminalHasNoModemLines) {
  std::atomic<int> changes = 0;
  port_.OnLineStatusChange = [&](TSerialPort*, TLineStatusSet) { ++changes; };
  port_.Open();
  terminal_.Write("x");
  ASSERT_TRUE(WaitForReceived(1));
  EXPECT_TRUE(port_.LineStatus().Empty());
  EXPECT_EQ(changes, 0);
}

// A setter on an open port and what the device holds afterwards.
struct TReapplyCase {
  const char* name;
  std::function<void(TSerialPort&)> change;
  std::function<void(const TProbedSettings&)> check;
};

class SerialPortReapplyTest : public SerialPortTest,
                              public testing::WithParamInterface<TReapplyCase> {};

TEST_P(SerialPortReapplyTest, DeviceTakesTheNewSetting) {
  port_.SetBaudRate(br009600);
  port_.Open();
  const TProbedSettings before = ProbeSettings(terminal_.Slave());
  EXPECT_EQ(before.outputSpeed, 9600u);
  EXPECT_EQ(before.cflag & CSIZE, static_cast<unsigned>(CS8));
  GetParam().change(port_);
  GetParam().check(ProbeSettings(terminal_.Slave()));
  EXPECT_EQ(port_.ConnectedPort(), spCOM7);
}

INSTANTIATE_TEST_SUITE_P(
    Setters, SerialPortReapplyTest,
    testing::Values(
        TReapplyCase{"BaudRate", [](TSerialPort& p) { p.SetBaudRate(br115200); },
                     [](const TProbedSettings& s) { EXPECT_EQ(s.outputSpeed, 115200u); }},
        TReapplyCase{"SpeedWithoutALinuxCode", [](TSerialPort& p) { p.SetBaudRate(br014400); },
                     [](const TProbedSettings& s) { EXPECT_EQ(s.outputSpeed, 14400u); }},
        TReapplyCase{"CustomBaudRate",
                     [](TSerialPort& p) {
                       p.SetCustomBaudRate(250000);
                       p.SetBaudRate(brCustom);
                     },
                     [](const TProbedSettings& s) { EXPECT_EQ(s.outputSpeed, 250000u); }},
        // A pseudo-terminal keeps the parity flags except PARENB (it forces 8 bits, no parity).
        TReapplyCase{"OddParity", [](TSerialPort& p) { p.SetParity(pbOdd); },
                     [](const TProbedSettings& s) {
                       EXPECT_EQ(s.cflag & (PARODD | CMSPAR), unsigned(PARODD));
                     }},
        TReapplyCase{"MarkParity", [](TSerialPort& p) { p.SetParity(pbMark); },
                     [](const TProbedSettings& s) {
                       EXPECT_EQ(s.cflag & (PARODD | CMSPAR), unsigned(PARODD | CMSPAR));
                     }},
        TReapplyCase{"SpaceParity", [](TSerialPort& p) { p.SetParity(pbSpace); },
                     [](const TProbedSettings& s) {
                       EXPECT_EQ(s.cflag & (PARODD | CMSPAR), unsigned(CMSPAR));
                     }},
        TReapplyCase{"TwoStopBits", [](TSerialPort& p) { p.SetStopBits(sb2Bits); },
                     [](const TProbedSettings& s) { EXPECT_TRUE(s.cflag & CSTOPB); }},
        // A UART gives five data bits with CSTOPB one and a half stop bits.
        TReapplyCase{"OneAndAHalfStopBitsWithFiveBits",
                     [](TSerialPort& p) {
                       p.SetDataWidth(dw5Bits);
                       p.SetStopBits(sb1_5Bits);
                     },
                     [](const TProbedSettings& s) { EXPECT_TRUE(s.cflag & CSTOPB); }},
        TReapplyCase{"RtsCts", [](TSerialPort& p) { p.SetHwFlowControl(hfRTSCTS); },
                     [](const TProbedSettings& s) { EXPECT_TRUE(s.cflag & CRTSCTS); }},
        TReapplyCase{"XonXoffWithItsCharacters",
                     [](TSerialPort& p) {
                       p.SetXonChar('Q');
                       p.SetXoffChar('S');
                       p.SetSwFlowControl(sfXONXOFF);
                     },
                     [](const TProbedSettings& s) {
                       EXPECT_EQ(s.iflag & (IXON | IXOFF), unsigned(IXON | IXOFF));
                       EXPECT_EQ(s.startChar, 'Q');
                       EXPECT_EQ(s.stopChar, 'S');
                     }},
        TReapplyCase{"ParityCheck", [](TSerialPort& p) { p.SetParityCheck(true); },
                     [](const TProbedSettings& s) { EXPECT_TRUE(s.iflag & INPCK); }}),
    [](const auto& instance) { return std::string(instance.param.name); });

TEST_F(SerialPortTest, DestroyingAnOpenPortReleasesTheDevice) {
  auto port = std::make_unique<TSerialPort>();
  port->SetUiHandOver(&ui_);
  port->SetPort(spCOM7);
  port->Open();
  terminal_.CloseSlave();
  port.reset();
  EXPECT_TRUE(terminal_.SlaveReleased());
}

}  // namespace
