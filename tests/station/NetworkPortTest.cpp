// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Network ports end to end at the serial layer: the serial port object against a real ser2net
// on 127.0.0.1 in front of a pseudo-terminal, plain, in TLS, and when things go wrong.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "station/NetworkAddress.h"
#include "station/NetworkSerialDevice.h"
#include "station/OperatorIdentity.h"
#include "station/StationPins.h"
#include "tests/serial/FakeUiThread.h"
#include "tests/serial/PortsDirectoryFixture.h"
#include "tests/serial/TermiosProbe.h"
#include "tests/station/DeafListener.h"
#include "tests/station/Ser2Net.h"
#include "tests/station/TelnetStation.h"
#include "tools/tuner-sim/PseudoTerminal.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(NetworkPortListTest, ARegularFileWithAnAddressIsANetworkPort) {
  TPortsDirectoryFixture directory;
  auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(directory.Path() + "/" + name) << text;
  };
  write("shack", "  rfc2217://shack.local:3001\r\nsecond line\n");
  write("notes", "the tuner is in the shack\n");
  write("empty", "");
  TSerialPort port;
  std::vector<std::string> names;
  port.ListPortNames(names);
  EXPECT_THAT(names, testing::Contains("SHACK"));
  EXPECT_THAT(names, testing::Not(testing::Contains("NOTES")));
  EXPECT_THAT(names, testing::Not(testing::Contains("EMPTY")));
  EXPECT_EQ(port.DevicePathOf("shack"), "rfc2217://shack.local:3001");
  // An address given as the port name names itself and counts as present.
  EXPECT_EQ(port.DevicePathOf("rfc2217://[::1]:3001"), "rfc2217://[::1]:3001");
  EXPECT_TRUE(port.IsPortListed("tcp://127.0.0.1:4001"));
}

TEST(NetworkPortTimeoutTest, AStationThatDoesNotAnswerFailsTheOpenWithinItsBound) {
  TDeafListener deaf;
  TSerialPort port;
  const std::string address = "rfc2217://127.0.0.1:" + std::to_string(deaf.Port());
  port.SetCustomPortName(address);
  port.SetPort(spCustom);
  const auto start = std::chrono::steady_clock::now();
  try {
    port.Open();
    FAIL() << "opened a station that never answered";
  } catch (const ESerialPortException& error) {
    EXPECT_EQ(error.Station().Failure, TStationFailure::TimedOut);
  }
  // Generous: the bound is 5 s, the machine may be busy.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
  EXPECT_EQ(port.ConnectedPort(), spNone);
}

TEST(NetworkPortTimeoutTest, AnOpenInProgressLeavesTheCallerFreeAndCloseGivesItUp) {
  TDeafListener mute(false);
  for (const char* scheme : {"rfc2217", "rfc2217+tls"}) {
    SCOPED_TRACE(scheme);
    TFakeUiThread ui;
    TSerialPort port;
    port.SetUiHandOver(&ui);
    port.SetCustomPortName(std::string(scheme) + "://127.0.0.1:" + std::to_string(mute.Port()));
    port.SetPort(spCustom);
    int done = 0;
    port.BeginOpen([&](std::exception_ptr) { ++done; });
    EXPECT_TRUE(port.Opening());
    ASSERT_TRUE(ui.WaitUntil([&] { return mute.Called(); }));
    const auto start = std::chrono::steady_clock::now();
    port.Close();
    // Far below what the station is given (5 s to connect, 3 s for the line settings), and
    // generous for a busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_FALSE(port.Opening());
    EXPECT_EQ(done, 0);
    EXPECT_EQ(port.ConnectedPort(), spNone);
    mute.Drain();
  }
}

// What the process holds: descriptors, threads and resident memory in bytes.
struct TFootprint {
  long descriptors = 0;
  long threads = 0;
  long resident = 0;
};

long EntriesIn(const char* directory) {
  long count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++count;
  return count;
}

TFootprint Footprint() {
  long pages = 0;
  long resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return {EntriesIn("/proc/self/fd"), EntriesIn("/proc/self/task"),
          resident * ::sysconf(_SC_PAGESIZE)};
}

// The keepalive idle time and the user time-out (ms) of this process's connection to `port`;
// the kernel's defaults are 7200 s and 0.
std::pair<int, unsigned> KeepAliveTowards(unsigned port) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::atoi(entry.path().filename().c_str());
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
        peer.sin_family != AF_INET || ntohs(peer.sin_port) != port) {
      continue;
    }
    int idle = 0;
    unsigned timeout = 0;
    socklen_t idleSize = sizeof idle;
    socklen_t timeoutSize = sizeof timeout;
    ::getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &idleSize);
    ::getsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, &timeoutSize);
    return {idle, timeout};
  }
  return {-1, 0};
}

// A station that answers every request as the RFC says opens; one that floods or talks
// nonsense leaves nothing running once the port is closed or the open has failed.
TEST(TelnetStationTest, StrictAndHostileStationsLeaveNothingBehind) {
  using enum TTelnetStation::TConduct;
  struct TCase {
    TTelnetStation::TConduct conduct;
    bool opens;
    int rounds;  // a failed open waits for its bound: fewer of those
  };
  const TCase cases[] = {
      {Strict, true, 20}, {FloodWhenNegotiated, true, 20}, {GarbageAtOnce, false, 4}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.conduct));
    TTelnetStation station(c.conduct);
    TFakeUiThread ui;
    TSerialPort port;
    port.SetUiHandOver(&ui);
    port.SetCustomPortName(station.Address());
    port.SetPort(spCustom);
    std::atomic<std::uint64_t> received = 0;
    // A handler given a megabyte at once keeps the receive thread, and whatever it holds,
    // long after Close: one pass takes no more than the input queue, as from a local driver.
    std::atomic<std::size_t> largest = 0;
    std::uint64_t sentBefore = 0;
    // As the window does: pending clicks run inside the handler, Close Port among them.
    port.OnReceive = [&](TSerialPort*, const std::string& buffer) {
      received += buffer.size();
      largest = std::max(largest.load(), buffer.size());
      ui.ProcessPendingEvents();
    };
    auto round = [&](int served) {
      received = 0;
      sentBefore = station.GarbageSent();
      try {
        port.Open();
        EXPECT_TRUE(c.opens);
        // A dead link is found in seconds, not in the kernel's two hours.
        const auto [idle, timeout] = KeepAliveTowards(station.Port());
        EXPECT_GT(idle, 0);
        EXPECT_LE(idle, 10);
        EXPECT_GT(timeout, 0u);
        EXPECT_LE(timeout, 10000u);
        // Close in the middle of the flood, with the inbox full and TCP holding back more.
        ASSERT_TRUE(ui.WaitUntil([&] {
          return c.conduct != FloodWhenNegotiated ||
                 (received > 0 && station.GarbageSent() - sentBefore > (1u << 20));
        }));
        ui.Post([&] { port.Close(); });
        ASSERT_TRUE(ui.WaitUntil([&] { return port.ConnectedPort() == spNone; }));
      } catch (const ESerialPortException& error) {
        EXPECT_FALSE(c.opens) << error.what();
      }
      ASSERT_TRUE(ui.WaitUntil([&] { return station.Served() == served; }));
    };
    // The first connection sets up what the network layer keeps for the whole run.
    round(1);
    const TFootprint start = Footprint();
    for (int i = 2; i <= c.rounds + 1; ++i) round(i);
    const TFootprint end = Footprint();
    EXPECT_LE(end.descriptors, start.descriptors + 2);
    EXPECT_LE(end.threads, start.threads + 1);
#ifndef __SANITIZE_ADDRESS__
    // AddressSanitizer keeps freed memory in quarantine, so there only the rest is compared.
    EXPECT_LE(end.resident, start.resident + (16 << 20));
#endif
    EXPECT_LE(largest, port.InputBuffer());
  }
}

// All open stations share the one station loop: with one or three open, the process runs at
// most one thread more than with as many local ports open (each port has its receive thread).
TEST(NetworkThreadsTest, OpenStationsShareOneLoopThread) {
  for (const int count : {1, 3}) {
    SCOPED_TRACE(count);
    TPortsDirectoryFixture directory;
    std::vector<std::unique_ptr<TPseudoTerminal>> terminals;
    std::vector<std::unique_ptr<TTelnetStation>> stations;
    for (int i = 0; i < count; ++i) {
      terminals.push_back(std::make_unique<TPseudoTerminal>());
      directory.Link("COM" + std::to_string(i + 1), terminals.back()->SlavePath());
      stations.push_back(std::make_unique<TTelnetStation>(TTelnetStation::TConduct::Strict));
    }
    const auto threadsWithOpen = [&](const std::function<std::string(int)>& name) {
      std::vector<std::unique_ptr<TSerialPort>> ports;
      for (int i = 0; i < count; ++i) {
        ports.push_back(std::make_unique<TSerialPort>());
        ports.back()->SetCustomPortName(name(i));
        ports.back()->SetPort(spCustom);
        ports.back()->Open();
      }
      return Footprint().threads;
    };
    const long local = threadsWithOpen([](int i) { return "COM" + std::to_string(i + 1); });
    const long network = threadsWithOpen([&](int i) { return stations[i]->Address(); });
    EXPECT_LE(network, local + 1);
  }
}

// Network namespaces and a veth pair that this test makes and removes; empty when the machine
// allows none (that needs root or CAP_NET_ADMIN).
class TVethLink {
 public:
  TVethLink()
      : id_(std::to_string(::getpid() % 100000)),
        namespace_("orvel-" + id_),
        outer_("orv" + id_ + "o"),
        subnet_("10.213." + std::to_string(::getpid() % 250) + ".") {
    made_ = Run("ip netns add " + namespace_);
    if (!made_) return;
    made_ = Run("ip link add " + outer_ + " type veth peer name orv" + id_ + "i") &&
            Run("ip link set orv" + id_ + "i netns " + namespace_) &&
            Run("ip addr add " + subnet_ + "1/30 dev " + outer_) &&
            Run("ip link set " + outer_ + " up") &&
            Run(InNamespace("ip addr add " + subnet_ + "2/30 dev orv" + id_ + "i")) &&
            Run(InNamespace("ip link set orv" + id_ + "i up")) &&
            Run(InNamespace("ip link set lo up"));
  }
  ~TVethLink() {
    Run("ip link del " + outer_);
    Run("ip netns del " + namespace_);
  }
  TVethLink(const TVethLink&) = delete;
  TVethLink& operator=(const TVethLink&) = delete;

  bool Made() const { return made_; }
  TStationPlace Station() const { return {subnet_ + "2", namespace_}; }
  // The link dies without a word to either end, as a cut cable or a failed radio link does.
  bool Cut() { return Run("ip link set " + outer_ + " down"); }

 private:
  static bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }
  std::string InNamespace(const std::string& command) const {
    return "ip netns exec " + namespace_ + " " + command;
  }

  const std::string id_, namespace_, outer_, subnet_;
  bool made_ = false;
};

TEST(NetworkDeadLinkTest, ALinkThatDiesClosesThePortWithinTenSeconds) {
  TVethLink link;
  if (!link.Made()) GTEST_SKIP() << "no network namespaces or veth pairs allowed here";
  TPseudoTerminal terminal;
  TSer2Net station(terminal.SlavePath(), {}, {}, link.Station());
  station.Start();
  TFakeUiThread ui;
  TSerialPort port;
  port.SetUiHandOver(&ui);
  int faults = 0;
  port.OnFault = [&](TSerialPort*, TCommPort) { ++faults; };
  port.SetCustomPortName(station.Address());
  port.SetPort(spCustom);
  port.Open();
  ASSERT_TRUE(link.Cut());
  ASSERT_TRUE(ui.WaitUntil([&] { return port.ConnectedPort() == spNone; }, 10s));
  EXPECT_EQ(faults, 1);
}

// News of the station's modem lines wakes the receive thread, which otherwise sleeps for as
// long as nothing arrives, and reaches OnLineStatusChange.
TEST(TelnetStationTest, ModemLineNewsWakesTheSleepingReceiveThread) {
  TTelnetStation station(TTelnetStation::TConduct::Strict);
  TFakeUiThread ui;
  TSerialPort port;
  port.SetUiHandOver(&ui);
  std::vector<std::uint8_t> seen;
  port.OnLineStatusChange = [&](TSerialPort*, TLineStatusSet lines) {
    seen.push_back(lines.Bits());
  };
  port.SetCustomPortName(station.Address());
  port.SetPort(spCustom);
  port.Open();
  const TLineStatusSet ctsAndDsr{lsCTS, lsDSR};
  std::size_t told = 0;
  for (const TLineStatusSet expected : {ctsAndDsr, TLineStatusSet{lsRLSD}}) {
    // RFC 2217's bits: CTS 0x10, DSR 0x20, RI 0x40, DCD 0x80.
    station.NotifyModemState(expected == ctsAndDsr ? 0x30 : 0x80);
    ++told;
    // The handler, not only the state it reads, is what the news must reach.
    ASSERT_TRUE(ui.WaitUntil([&] { return seen.size() == told; }));
    EXPECT_EQ(port.LineStatus(), expected);
  }
  EXPECT_EQ(seen, (std::vector<std::uint8_t>{ctsAndDsr.Bits(), TLineStatusSet{lsRLSD}.Bits()}));
  port.Close();
}

class NetworkPortTest : public testing::Test {
 protected:
  NetworkPortTest() : station_(terminal_.SlavePath()) { Prepare(port_); }

  void Prepare(TSerialPort& port) {
    port.SetUiHandOver(&ui_);
    port.SetBaudRate(br009600);
    port.OnReceive = [this](TSerialPort*, const std::string& buffer) { received_ += buffer; };
    port.OnFault = [this](TSerialPort*, TCommPort) { ++faults_; };
  }

  static void Name(TSerialPort& port, const std::string& address) {
    port.SetCustomPortName(address);
    port.SetPort(spCustom);
  }

  // The facts of the port's failure to open, with its message.
  std::pair<TStationReport, std::string> OpenFailure(TSerialPort& port,
                                                     const std::string& address) {
    Name(port, address);
    try {
      port.Open();
    } catch (const ESerialPortException& error) {
      EXPECT_EQ(port.ConnectedPort(), spNone);
      return {error.Station(), error.what()};
    }
    ADD_FAILURE() << address << " opened";
    return {};
  }

  TPseudoTerminal terminal_;
  TSer2Net station_;
  TFakeUiThread ui_;
  TSerialPort port_;
  std::string received_;
  int faults_ = 0;
};

TEST_F(NetworkPortTest, LineSettingsGoThroughTheStationAndBytesPassUnchanged) {
  station_.Start();
  Name(port_, station_.Address());
  port_.Open();
  ASSERT_EQ(port_.ConnectedPort(), spCustom);
  // The station was configured for 19200 7E1; the port asked for 9600 8N1.
  const TProbedSettings settings = ProbeSettings(terminal_.Slave());
  EXPECT_EQ(settings.outputSpeed, 9600u);
  EXPECT_EQ(settings.cflag & CSIZE, static_cast<unsigned>(CS8));
  EXPECT_EQ(settings.cflag & PARENB, 0u);
  EXPECT_EQ(settings.cflag & CSTOPB, 0u);
  // Changed at once, twice, while the station leaves the open's modem-line requests unanswered:
  // each change is confirmed and the port stays open.
  port_.SetBaudRate(br019200);
  port_.SetParity(pbEven);
  ASSERT_EQ(port_.ConnectedPort(), spCustom);
  EXPECT_EQ(ProbeSettings(terminal_.Slave()).outputSpeed, 19200u);

  // 0xFF is Telnet's escape byte, so it is the one that a careless client mangles.
  const std::string command("ATU?\r\n\xff\x01", 8);
  EXPECT_EQ(port_.SendString(command), command.size());
  std::string seen;
  ASSERT_TRUE(ui_.WaitUntil([&] { return (seen += terminal_.Read(20ms)).size() >= 8; }));
  EXPECT_EQ(seen, command);

  const std::string answer("ATU_KORAX\r\n\xff\x00\xfe", 14);
  terminal_.Write(answer);
  ASSERT_TRUE(ui_.WaitUntil([&] { return received_.size() >= answer.size(); }));
  EXPECT_EQ(received_, answer);
  EXPECT_EQ(faults_, 0);
  port_.Close();
}

TEST_F(NetworkPortTest, StoppedStationFaultsAndClosesAndARestartedOneOpens) {
  station_.Start();
  Name(port_, station_.Address());
  port_.Open();
  station_.Stop();
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ConnectedPort() == spNone; }, 10s));
  EXPECT_EQ(faults_, 1);
  EXPECT_TRUE(port_.Faulted());

  station_.Start();
  std::vector<bool> done;
  port_.BeginOpen([&](std::exception_ptr failure) {
    done.push_back(!failure && ui_.InUiThread());
    EXPECT_EQ(port_.ConnectedPort(), spCustom);
  });
  EXPECT_TRUE(port_.Opening());
  ASSERT_TRUE(ui_.WaitUntil([&] { return !done.empty(); }));
  EXPECT_EQ(done, std::vector<bool>{true});
  EXPECT_FALSE(port_.Opening());
  EXPECT_EQ(port_.ConnectedPort(), spCustom);
  EXPECT_FALSE(port_.Faulted());
  terminal_.Write("SWR: 11\r\n");
  ASSERT_TRUE(ui_.WaitUntil([&] { return received_ == "SWR: 11\r\n"; }));
}

// A station hung just after it took a command: the port closes, and its fault handler learns
// which write the station took without a word since, and when it was sent; an answered one is
// not named.
TEST_F(NetworkPortTest, AHungStationNamesTheWriteItMayStillCarryOut) {
  station_.Start();
  Name(port_, station_.Address());
  std::vector<TUnconfirmedWrite> unconfirmed;
  port_.OnFault = [&](TSerialPort* sender, TCommPort) {
    ++faults_;
    unconfirmed = sender->UnconfirmedWrites();
  };
  port_.Open();
  EXPECT_EQ(port_.SendString("ATU?\r\n"), 6u);
  std::string seen;
  ASSERT_TRUE(ui_.WaitUntil([&] { return (seen += terminal_.Read(20ms)).size() >= 6; }));
  terminal_.Write("ATU_KORAX\r\n");
  ASSERT_TRUE(ui_.WaitUntil([&] { return received_ == "ATU_KORAX\r\n"; }));
  station_.Freeze();
  const auto before = std::chrono::system_clock::now();
  // Heard from a moment ago: the command goes without a question first.
  EXPECT_EQ(port_.SendString("TUNE ON\r\n"), 9u);
  const auto after = std::chrono::system_clock::now();
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ConnectedPort() == spNone; }, 10s));
  station_.Thaw();
  EXPECT_EQ(faults_, 1);
  ASSERT_EQ(unconfirmed.size(), 1u);
  EXPECT_EQ(unconfirmed[0].Text, "TUNE ON\r\n");
  EXPECT_GE(unconfirmed[0].SentAt, before);
  EXPECT_LE(unconfirmed[0].SentAt, after);
  EXPECT_TRUE(port_.UnconfirmedWrites().empty());
}

// A station that floods while nobody reads: reading is held back at the full inbox for longer
// than the liveness bounds, the station's answers wait behind its data, and it is not lost.
TEST(NetworkFloodTest, AStationHeldBackAtAFullInboxIsNotLost) {
  constexpr std::uint64_t Burst = 16u << 20;
  TTelnetStation station(TTelnetStation::TConduct::BurstWhenNegotiated, Burst);
  TDeviceError error;
  std::unique_ptr<TNetworkSerialDevice> device =
      TNetworkSerialDevice::Open(station.Address(), error);
  ASSERT_TRUE(device) << error.Message;
  TLineSettings settings;
  settings.BitsPerSecond = 9600;
  ASSERT_TRUE(device->ApplyLineSettings(settings, error)) << error.Message;
  // Held without reading past the liveness bounds: a loss during the hold ends the wait at once.
  ASSERT_FALSE(device->WaitLost(std::chrono::steady_clock::now() +
                                TNetworkSerialDevice::QuietBound +
                                TNetworkSerialDevice::AnswerBound + 1s));
  std::uint64_t read = 0;
  std::vector<char> buffer(1 << 16);
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (station.GarbageSent() < Burst && !device->Lost() &&
         std::chrono::steady_clock::now() < deadline) {
    read += device->Read(buffer.data(), buffer.size()).Count;
  }
  // What was sent counts each data byte 255 twice, as Telnet escapes it.
  EXPECT_EQ(station.GarbageSent(), Burst);
  EXPECT_GT(read, Burst / 2);
  EXPECT_FALSE(device->Lost());
  EXPECT_EQ(device->Write("ATU?\r\n", 6, 2s).Count, 6u);
}

// A raw TCP station has nothing to ask: a station that goes away is still found, by the
// connection's end, and closes the port as an unplugged adapter does.
TEST_F(NetworkPortTest, ARawStationThatGoesAwayFaultsAndCloses) {
  const unsigned tcpPort = FreeLocalPort();
  const std::string config =
      testing::TempDir() + "orvel-raw-" + std::to_string(::getpid()) + ".yaml";
  std::ofstream(config) << "connection: &raw\n  accepter: tcp,127.0.0.1," << tcpPort
                        << "\n  connector: serialdev," << terminal_.SlavePath()
                        << ",9600n81,local\n";
  TSer2Net raw(config, tcpPort);
  raw.Start();
  Name(port_, "tcp://127.0.0.1:" + std::to_string(tcpPort));
  port_.Open();
  terminal_.Write("SWR: 11\r\n");
  ASSERT_TRUE(ui_.WaitUntil([&] { return received_ == "SWR: 11\r\n"; }));
  raw.Stop();
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ConnectedPort() == spNone; }, 10s));
  EXPECT_EQ(faults_, 1);
  std::filesystem::remove(config);
}

TEST_F(NetworkPortTest, IdleStationPortSleepsAndWakesForBytesAndForItsEntry) {
  // A station of the port directory, so that its entry is watched as well.
  TPortsDirectoryFixture directory;
  station_.Start();
  std::ofstream(directory.Path() + "/shack") << station_.Address() << "\n";
  Name(port_, "SHACK");
  port_.SetDelay(50);
  port_.Open();
  terminal_.Write("a");
  ASSERT_TRUE(ui_.WaitUntil([&] { return received_ == "a"; }));
  // A thread that looked every Delay would never sleep without a time limit.
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ReceiveThreadAsleep(); }));
  terminal_.Write("b");
  ASSERT_TRUE(ui_.WaitUntil([&] { return received_ == "ab"; }));
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ReceiveThreadAsleep(); }));
  // The entry taken away wakes it as well (the end of the connection: the test above).
  directory.Remove("shack");
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ConnectedPort() == spNone; }, 10s));
  EXPECT_TRUE(port_.Faulted());
}

TEST_F(NetworkPortTest, FailuresGiveTheirKindAndFacts) {
  station_.Start();
  port_.SetCustomPortName(station_.Address());
  port_.SetPort(spCustom);
  port_.Open();
  TSerialPort second;
  Prepare(second);
  const std::string busy = station_.Address();
  // The station says "in use" and hangs up at once; on a slow run the hang-up can overtake the
  // words, and then the honest reason is the closed connection.
  const TStationReport inUse = OpenFailure(second, busy).first;
  EXPECT_THAT(inUse.Failure,
              testing::AnyOf(TStationFailure::InUse, TStationFailure::ClosedByStation));
  if (inUse.Failure == TStationFailure::InUse) {
    EXPECT_THAT(inUse.SystemReason, testing::HasSubstr("in use"));
  }

  const std::string nobody = "rfc2217://127.0.0.1:" + std::to_string(FreeLocalPort());
  const TStationReport refused = OpenFailure(second, nobody).first;
  EXPECT_EQ(refused.Failure, TStationFailure::Refused);
  EXPECT_EQ(refused.Address, nobody);

  // A hung station's kernel still takes the connection; the station itself says nothing. Not
  // answering is something a retry can outlast, unlike a station that refuses RFC 2217.
  TSer2Net hung(terminal_.SlavePath());
  hung.Start();
  hung.Freeze();
  EXPECT_EQ(OpenFailure(second, hung.Address()).first.Failure, TStationFailure::NotAnswering);

  // A key named by what may be a password instead of a file is not repeated.
  const auto [secret, secretSaid] = OpenFailure(second, "rfc2217+tls://127.0.0.1:1?key=S3cretPW");
  EXPECT_EQ(secret.Failure, TStationFailure::FileUnreadable);
  EXPECT_EQ(secret.File, TAddressFile::Key);
  EXPECT_EQ(secret.Path, "");
  EXPECT_EQ(secret.Address, "rfc2217+tls://127.0.0.1:1?key=***");
  EXPECT_THAT(secretSaid, testing::Not(testing::HasSubstr("S3cretPW")));
  const TStationReport missing =
      OpenFailure(second, "rfc2217+tls://127.0.0.1:1?ca=/nonexistent/ca.pem").first;
  EXPECT_EQ(missing.File, TAddressFile::CertificateAuthority);
  EXPECT_EQ(missing.Path, "/nonexistent/ca.pem");
  EXPECT_EQ(second.ConnectedPort(), spNone);
}

class TlsStationTest : public testing::Test {
 protected:
  std::string Address(const TSer2Net& station, const std::string& query) const {
    return station.Address("rfc2217+tls") + query;
  }

  // The port's message and the failure's facts; "opened" when the port opens and a write
  // reaches the station's device; "lost" with the port's loss report when the station hung up
  // on that write.
  std::pair<std::string, TStationReport> OpenFailure(const std::string& address) {
    TSerialPort port;
    port.SetUiHandOver(&ui_);
    port.SetCustomPortName(address);
    port.SetPort(spCustom);
    std::optional<TStationReport> loss;
    port.OnFault = [&loss](TSerialPort* sender, TCommPort) { loss = sender->LossReport(); };
    try {
      port.Open();
    } catch (const ESerialPortException& error) {
      return {error.what(), error.Station()};
    }
    port.SendString("ATU?\r\n");
    std::string seen;
    // Bytes an earlier case sent to the same device may come first.
    ui_.WaitUntil([&] {
      return loss || (seen += terminal_.Read(20ms)).find("ATU?\r\n") != std::string::npos;
    });
    if (loss) return {"lost", *loss};
    return {seen == "ATU?\r\n" ? "opened" : "opened, but the station saw " + seen, {}};
  }

  std::string OpenError(const std::string& address) { return OpenFailure(address).first; }

  // Made once for the suite: key generation is the slow part.
  static inline std::unique_ptr<TTestCertificates> certificates_;
  static void SetUpTestSuite() { certificates_ = std::make_unique<TTestCertificates>(); }
  static void TearDownTestSuite() { certificates_.reset(); }

  const TTestCertificates& files_ = *certificates_;
  TPseudoTerminal terminal_;
  TFakeUiThread ui_;
};

TEST_F(TlsStationTest, TheStationsCertificateIsVerified) {
  TSer2Net station(terminal_.SlavePath(),
                   "key=" + files_.File("station.key") + ",cert=" + files_.File("station.pem"));
  station.Start();
  EXPECT_EQ(OpenError(Address(station, "?ca=" + files_.File("ca.pem"))), "opened");
  const std::string wrong = Address(station, "?ca=" + files_.File("otherca.pem"));
  const TStationReport report = OpenFailure(wrong).second;
  EXPECT_EQ(report.Failure, TStationFailure::CertificateNotTrusted);
  EXPECT_EQ(report.Subject, "CN=127.0.0.1");
  EXPECT_EQ(report.Finding, TCertificateFinding::NotSigned);
}

TEST_F(TlsStationTest, ACertificateForAnotherHostIsNotTrusted) {
  TSer2Net station(terminal_.SlavePath(),
                   "key=" + files_.File("stranger.key") + ",cert=" + files_.File("stranger.pem"));
  station.Start();
  const std::string address = Address(station, "?ca=" + files_.File("ca.pem"));
  const TStationReport report = OpenFailure(address).second;
  EXPECT_EQ(report.Failure, TStationFailure::CertificateNotTrusted);
  EXPECT_EQ(report.Subject, "CN=other.example");
  EXPECT_EQ(report.Finding, TCertificateFinding::OtherHost);
  EXPECT_EQ(report.Host, "127.0.0.1");
}

TEST_F(TlsStationTest, AStationThatRequiresAClientCertificateGetsOne) {
  TSer2Net station(
      terminal_.SlavePath(),
      "key=" + files_.File("station.key") + ",cert=" + files_.File("station.pem") + ",clientauth",
      files_.File("auth"));
  station.Start();
  const std::string without = Address(station, "?ca=" + files_.File("ca.pem"));
  EXPECT_EQ(OpenFailure(without).second.Failure, TStationFailure::ClientCertificateRequired);
  EXPECT_EQ(OpenError(Address(station, "?ca=" + files_.File("ca.pem") +
                                           "&cert=" + files_.File("client.pem") +
                                           "&key=" + files_.File("client.key"))),
            "opened");
  const std::string refused =
      Address(station, "?ca=" + files_.File("ca.pem") + "&cert=" + files_.File("stranger.pem") +
                           "&key=" + files_.File("stranger.key"));
  EXPECT_EQ(OpenFailure(refused).second.Failure, TStationFailure::ClientCertificateRefused);
}

// TLS 1.2 asks for the client's certificate inside the handshake, and breaks it off there.
TEST_F(TlsStationTest, ATls12StationThatRequiresAClientCertificateSaysSo) {
  const unsigned port = FreeLocalPort();
  FILE* started = ::popen(
      ("openssl s_server -quiet -tls1_2 -Verify 1 -accept 127.0.0.1:" + std::to_string(port) +
       " -cert " + files_.File("station.pem") + " -key " + files_.File("station.key") +
       " </dev/null >/dev/null 2>&1 & echo $!")
          .c_str(),
      "r");
  int server = 0;
  ASSERT_EQ(std::fscanf(started, "%d", &server), 1);
  ::pclose(started);
  const std::shared_ptr<void> stop(nullptr, [server](void*) { ::kill(server, SIGTERM); });
  ASSERT_TRUE(ui_.WaitUntil([&] { return Listening("127.0.0.1", port); }));
  const std::string address = "rfc2217+tls://127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(OpenFailure(address + "?ca=" + files_.File("ca.pem")).second.Failure,
            TStationFailure::ClientCertificateRequired);
}

// A plain address for a TLS station and the other way round: the first bytes tell, at once. A
// raw address to a TLS station opens (nothing is written before the tuner's first command) and
// is lost on that command, with the kind in the port's loss report.
TEST_F(TlsStationTest, AnAddressOfTheWrongKindSaysWhichOneToUse) {
  TSer2Net plain(terminal_.SlavePath());
  TSer2Net tls(terminal_.SlavePath(),
               "key=" + files_.File("station.key") + ",cert=" + files_.File("station.pem"));
  plain.Start();
  tls.Start();
  struct TCase {
    std::string address;
    // Refused at the open, or lost on the first write.
    bool lost;
    TStationFailure failure;
    unsigned port;
  };
  const TCase cases[] = {
      {plain.Address("rfc2217+tls") + "?ca=" + files_.File("ca.pem"), false,
       TStationFailure::NotTls, plain.Port()},
      {tls.Address("rfc2217"), false, TStationFailure::ExpectsTls, tls.Port()},
      {tls.Address("tcp"), true, TStationFailure::ExpectsTls, tls.Port()},
  };
  for (const auto& [address, lost, failure, port] : cases) {
    const auto start = std::chrono::steady_clock::now();
    const auto [text, report] = OpenFailure(address);
    EXPECT_EQ(text == "lost", lost) << address;
    EXPECT_EQ(report.Failure, failure) << address;
    EXPECT_EQ(report.Port, port);
    // Not the line settings' bound of 3 s; generous for a busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms) << address;
  }
}

// How a raw connection's end tells a TLS station: no word and a hang-up on the first write, or
// a TLS record; a raw station that served, or hung up later than the bound, is no such station.
TEST(NetworkRawLossTest, ATlsStationIsToldByItsHangUp) {
  struct TCase {
    const char* name;
    std::string firstWords;
    std::optional<std::chrono::steady_clock::duration> writeToLoss;
    bool tls;
  };
  const auto bound = TNetworkSerialDevice::TlsRefusalBound;
  const TCase cases[] = {
      {"hung up without a word on the first write", "", 4ms, true},
      {"hung up without a word at the bound", "", bound, true},
      {"quiet, lost later than the bound", "", bound + 1ms, false},
      {"hung up before anything was written", "", std::nullopt, false},
      {"a TLS alert", std::string("\x15\x03\x03\x00\x02\x02\x32", 7), 4ms, true},
      {"a TLS handshake", std::string("\x16\x03\x01\x00\x05", 5), std::nullopt, true},
      {"the tuner answered", "ATU_KORAX\r\n", 4ms, false},
      {"a byte like an alert's first", std::string("\x15\x04\x03", 3), 4ms, false},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(TNetworkSerialDevice::RefusedAsTls(c.firstWords, c.writeToLoss), c.tls) << c.name;
  }
}

// A station with a certificate of its own making: refused with its fingerprint until the
// operator pins it, then served; given another certificate, refused with both fingerprints.
// Nothing reaches the device on a refused connection: the first bytes the device ever sees are
// those of the first connection that was let through.
TEST_F(TlsStationTest, ASelfSignedStationIsTrustedOnceAndRefusedWhenItsCertificateChanges) {
  auto refusal = [this](const std::string& address) {
    TSerialPort port;
    port.SetUiHandOver(&ui_);
    port.SetCustomPortName(address);
    port.SetPort(spCustom);
    try {
      port.Open();
    } catch (const ESerialPortException& error) {
      EXPECT_EQ(port.ConnectedPort(), spNone);
      return error;
    }
    return ESerialPortException(TSerialErrorKind::None, "opened");
  };
  TSer2Net first(terminal_.SlavePath(), files_.StationOptions("ca"));
  first.Start();
  const std::string station = "127.0.0.1:" + std::to_string(first.Port());
  const std::string address = first.Address("rfc2217+tls");
  const std::string before = CertificateFingerprint(files_.File("ca.pem"));
  const std::string after = CertificateFingerprint(files_.File("otherca.pem"));
  ASSERT_FALSE(before.empty());
  ASSERT_NE(before, after);

  ESerialPortException error = refusal(address);
  EXPECT_EQ(error.Kind(), TSerialErrorKind::UnknownStation);
  EXPECT_EQ(error.Station().Failure, TStationFailure::UnknownStation);
  EXPECT_EQ(error.Certificate().Station, station);
  EXPECT_EQ(error.Certificate().Fingerprint, before);
  EXPECT_EQ(error.Station().Address, address);
  std::string previous, reason;
  ASSERT_TRUE(TStationPins().Pin(station, before, previous, reason)) << reason;
  EXPECT_EQ(OpenError(address), "opened");
  // An authority of the operator's own is not overruled by a pin.
  EXPECT_EQ(refusal(address + "?ca=" + files_.File("otherca.pem")).Kind(), TSerialErrorKind::Other);

  first.Stop();
  const std::string config = fs::path(files_.File("ca.pem")).parent_path() / "changed.yaml";
  std::ofstream(config) << "connection: &tuner\n  accepter: telnet(rfc2217),ssl(key="
                        << files_.File("otherca.key") << ",cert=" << files_.File("otherca.pem")
                        << "),tcp,127.0.0.1," << first.Port() << "\n  connector: serialdev,"
                        << terminal_.SlavePath() << ",9600n81,local\n";
  TSer2Net second(config, first.Port());
  second.Start();
  error = refusal(address);
  EXPECT_EQ(error.Kind(), TSerialErrorKind::StationChanged);
  EXPECT_EQ(error.Station().Failure, TStationFailure::StationChanged);
  EXPECT_EQ(error.Certificate().Fingerprint, after);
  EXPECT_EQ(error.Station().Pinned, before);
  ASSERT_TRUE(TStationPins().Pin(station, after, previous, reason)) << reason;
  EXPECT_EQ(previous, before);
  EXPECT_EQ(OpenError(address), "opened");
}

// A station hung with its kernel still answering TCP, plain and in TLS side by side: each port
// closes as for an unplugged adapter within 10 s of the freeze, and a command given more than
// 3 s into it never reaches the tuner, not even when the station resumes.
TEST_F(TlsStationTest, AHungStationIsFoundAndGetsNoLateCommand) {
  struct TLeg {
    TPseudoTerminal terminal;
    std::unique_ptr<TSer2Net> station;
    TSerialPort port;
    int faults = 0;
  };
  const std::string tls =
      "key=" + files_.File("station.key") + ",cert=" + files_.File("station.pem");
  const std::pair<std::string, std::string> kinds[] = {{"", "rfc2217"}, {tls, "rfc2217+tls"}};
  std::vector<std::unique_ptr<TLeg>> legs;
  for (const auto& [options, scheme] : kinds) {
    auto& leg = *legs.emplace_back(std::make_unique<TLeg>());
    leg.station = std::make_unique<TSer2Net>(leg.terminal.SlavePath(), options);
    leg.station->Start();
    leg.port.SetUiHandOver(&ui_);
    leg.port.OnFault = [&leg](TSerialPort*, TCommPort) { ++leg.faults; };
    leg.port.SetCustomPortName(leg.station->Address(scheme) +
                               (options.empty() ? "" : "?ca=" + files_.File("ca.pem")));
    leg.port.SetPort(spCustom);
    leg.port.Open();
  }
  for (auto& leg : legs) leg->station->Freeze();
  const auto frozen = std::chrono::steady_clock::now();
  ASSERT_TRUE(ui_.WaitUntil([&] { return std::chrono::steady_clock::now() > frozen + 3200ms; }));
  for (auto& leg : legs) {
    SCOPED_TRACE(leg->port.CustomPortName());
    std::uint32_t sent = 0;
    try {
      sent = leg->port.SendString("TUNE\r\n");
    } catch (const ESerialPortException&) {
      // Already found lost.
    }
    EXPECT_EQ(sent, 0u);
  }
  for (auto& leg : legs) {
    SCOPED_TRACE(leg->port.CustomPortName());
    ASSERT_TRUE(ui_.WaitUntil([&] { return leg->port.ConnectedPort() == spNone; },
                              std::chrono::duration_cast<std::chrono::milliseconds>(
                                  frozen + 10s - std::chrono::steady_clock::now())));
    EXPECT_EQ(leg->faults, 1);
    leg->station->Thaw();
  }
  for (auto& leg : legs) {
    SCOPED_TRACE(leg->port.CustomPortName());
    // The resumed station lets go of the old connection in its own time.
    ASSERT_TRUE(ui_.WaitUntil(
        [&] {
          try {
            leg->port.Open();
          } catch (const ESerialPortException&) {
          }
          return leg->port.ConnectedPort() == spCustom;
        },
        10s));
    EXPECT_EQ(leg->port.SendString("ATU?\r\n"), 6u);
    std::string seen;
    ASSERT_TRUE(
        ui_.WaitUntil([&] { return (seen += leg->terminal.Read(20ms)).find('?') != seen.npos; }));
    EXPECT_EQ(seen, "ATU?\r\n");
  }
}

// Healthy stations quiet for longer than every liveness bound stay open and then take a write:
// ser2net in front of a pseudo-terminal, plain and in TLS (which leaves the modem-line requests
// unanswered), and a station that answers every request as the RFC says; each opened a second
// time, as a reconnection does.
TEST_F(TlsStationTest, QuietHealthyStationsStayOpenAndTakeAWrite) {
  struct TLeg {
    TPseudoTerminal terminal;
    std::unique_ptr<TSer2Net> station;
    std::unique_ptr<TTelnetStation> strict;
    TSerialPort port;
    int faults = 0;
  };
  const std::string tls =
      "key=" + files_.File("station.key") + ",cert=" + files_.File("station.pem");
  const std::pair<std::string, std::string> kinds[] = {
      {"", "rfc2217"}, {tls, "rfc2217+tls"}, {"", "strict"}};
  std::vector<std::unique_ptr<TLeg>> legs;
  for (const auto& [options, scheme] : kinds) {
    auto& leg = *legs.emplace_back(std::make_unique<TLeg>());
    std::string address;
    if (scheme == "strict") {
      leg.strict = std::make_unique<TTelnetStation>(TTelnetStation::TConduct::Strict);
      address = leg.strict->Address();
    } else {
      leg.station = std::make_unique<TSer2Net>(leg.terminal.SlavePath(), options);
      leg.station->Start();
      address =
          leg.station->Address(scheme) + (options.empty() ? "" : "?ca=" + files_.File("ca.pem"));
    }
    leg.port.SetUiHandOver(&ui_);
    leg.port.OnFault = [&leg](TSerialPort*, TCommPort) { ++leg.faults; };
    leg.port.SetCustomPortName(address);
    leg.port.SetPort(spCustom);
    leg.port.Open();
    leg.port.Close();
    leg.port.Open();
  }
  // The whole quiet time, unless a port faults or closes before.
  EXPECT_FALSE(ui_.WaitUntil(
      [&] {
        return std::any_of(legs.begin(), legs.end(), [](const auto& leg) {
          return leg->faults > 0 || leg->port.ConnectedPort() != spCustom;
        });
      },
      20s));
  for (auto& leg : legs) {
    SCOPED_TRACE(leg->port.CustomPortName());
    EXPECT_EQ(leg->faults, 0);
    // Asked several times by now; on loopback far below the 10 ms in which the count is looked at.
    ASSERT_TRUE(leg->port.LastRoundTrip());
    EXPECT_LT(*leg->port.LastRoundTrip(), 10ms);
    EXPECT_EQ(leg->port.SendString("TUNE\r\n"), 6u);
    if (!leg->station) continue;
    std::string seen;
    ASSERT_TRUE(
        ui_.WaitUntil([&] { return (seen += leg->terminal.Read(20ms)).find('\n') != seen.npos; }));
    EXPECT_EQ(seen, "TUNE\r\n");
  }
}

// Close while the open thread waits to hand its connection over: neither the completion nor
// OnConnect runs, then or later.
TEST(NetworkOpenTest, ACloseDuringTheHandOverRunsNeitherTheCompletionNorOnConnect) {
  TTelnetStation station(TTelnetStation::TConduct::Strict);
  TFakeUiThread ui;
  TSerialPort port;
  port.SetUiHandOver(&ui);
  port.SetCustomPortName(station.Address());
  port.SetPort(spCustom);
  int connects = 0;
  int done = 0;
  port.OnConnect = [&](TSerialPort*, TCommPort) { ++connects; };
  port.BeginOpen([&](std::exception_ptr) { ++done; });
  // Polled without letting events run: the hand-over stays queued.
  ASSERT_TRUE(ui.WaitForPending(10s));
  port.Close();
  EXPECT_FALSE(port.Opening());
  ui.ProcessPendingEvents();
  EXPECT_EQ(done, 0);
  EXPECT_EQ(connects, 0);
  EXPECT_EQ(port.ConnectedPort(), spNone);
  ASSERT_TRUE(ui.WaitUntil([&] { return station.Served() == 1; }));
}

// Closing a connection to a station that hung before anyone noticed: the window's Close lets go
// at once instead of waiting for the station's farewell, plain and in TLS.
TEST_F(TlsStationTest, ClosingAHungStationDoesNotWaitForIt) {
  const std::string tls =
      "key=" + files_.File("station.key") + ",cert=" + files_.File("station.pem");
  const std::pair<std::string, std::string> kinds[] = {{"", "rfc2217"}, {tls, "rfc2217+tls"}};
  for (const auto& [options, scheme] : kinds) {
    SCOPED_TRACE(scheme);
    TPseudoTerminal terminal;
    TSer2Net station(terminal.SlavePath(), options);
    station.Start();
    TSerialPort port;
    port.SetUiHandOver(&ui_);
    port.SetCustomPortName(station.Address(scheme) +
                           (options.empty() ? "" : "?ca=" + files_.File("ca.pem")));
    port.SetPort(spCustom);
    port.Open();
    station.Freeze();
    std::atomic<bool> closed = false;
    std::thread closing([&] {
      port.Close();
      closed = true;
    });
    // Well inside the 3 s after which a quiet station is asked whether it is still there.
    const bool prompt = ui_.WaitUntil([&] { return closed.load(); }, 2500ms);
    station.Thaw();
    closing.join();
    EXPECT_TRUE(prompt);
  }
}

}  // namespace
