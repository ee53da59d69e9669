// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Stations found on the local network: ser2net announcing through a real avahi-daemon, all inside
// the test's own network, mount and host-name namespaces, so that nothing reaches the machine's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "station/StationBrowser.h"
#include "tests/serial/FakeUiThread.h"
#include "tests/station/Ser2Net.h"

namespace {

constexpr const char* kHostName = "orvelstation";
// Why the namespaces could not be made; empty when the test runs inside them.
std::string isolationProblem = "not isolated";
std::vector<pid_t> daemons;

pid_t StartDaemon(std::vector<const char*> arguments) {
  arguments.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::closefrom(3);
    ::execvp(arguments[0], const_cast<char* const*>(arguments.data()));
    ::_exit(127);
  }
  daemons.push_back(pid);
  return pid;
}

// Waits for a daemon's socket without polling: the watch on the socket's folder wakes at every
// name made there, the daemon's pidfd when it dies. The socket is looked for only once the
// watch stands, so one made just before is not missed.
bool AppearsWithin(const std::filesystem::path& path, pid_t daemon) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  // glibc's own pidfd_open is declared without C linkage in this release.
  const int died = static_cast<int>(::syscall(SYS_pidfd_open, daemon, 0));
  bool appeared = false;
  if (watch >= 0 && died >= 0 &&
      ::inotify_add_watch(watch, path.parent_path().c_str(), IN_CREATE | IN_MOVED_TO) >= 0) {
    pollfd events[] = {{watch, POLLIN, 0}, {died, POLLIN, 0}};
    while (!(appeared = std::filesystem::exists(path))) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      const int ready = ::poll(events, 2, static_cast<int>(std::max<long>(0, left.count())));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || events[1].revents != 0) break;
      alignas(inotify_event) char names[4096];  // what is left unread wakes the next poll
      if (::read(watch, names, sizeof names) < 0 && errno != EAGAIN) break;
    }
  }
  if (watch >= 0) ::close(watch);
  if (died >= 0) ::close(died);
  return appeared;
}

// A network namespace with a veth pair (multicast on loopback alone announces nothing useful),
// a private /run for a system bus and avahi-daemon of the test's own, and a host name. Made
// while the process has one thread, as unshare requires.
std::string Isolate() {
  if (::geteuid() != 0) return "making network and mount namespaces needs root";
  if (::unshare(CLONE_NEWNET | CLONE_NEWNS | CLONE_NEWUTS) != 0)
    return std::string("cannot make namespaces here: ") + std::strerror(errno);
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("cannot make the mounts private: ") + std::strerror(errno);
  ::sethostname(kHostName, std::strlen(kHostName));
  for (const char* folder : {"/run/dbus", "/run/avahi-daemon"}) {
    ::mkdir(folder, 0755);
    if (::mount("tmpfs", folder, "tmpfs", 0, nullptr) != 0)
      return std::string("cannot mount a private ") + folder + ": " + std::strerror(errno);
  }
  if (std::system("ip link set lo up && ip link add a0 type veth peer name a1 && "
                  "ip addr add 10.99.0.1/24 dev a0 && ip addr add 10.99.0.2/24 dev a1 && "
                  "ip link set a0 up && ip link set a1 up") != 0)
    return "cannot make a veth pair";
  const pid_t bus = StartDaemon({"dbus-daemon", "--system", "--nofork", "--nopidfile"});
  if (!AppearsWithin("/run/dbus/system_bus_socket", bus)) return "the system bus did not start";
  const pid_t avahi =
      StartDaemon({"avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits"});
  if (!AppearsWithin("/run/avahi-daemon/socket", avahi)) return "avahi-daemon did not start";
  return {};
}

// A station on a pseudo-terminal, announced by ser2net under the station's name.
class TAnnouncedStation {
 public:
  // Announced through a configuration of the test's own: the tuner's connection behind
  // `accepterStack`, with mDNS on.
  TAnnouncedStation(const std::string& name, const std::string& accepterStack,
                    const std::string& directory)
      : config_(directory + "/" + name + ".yaml") {
    std::ofstream(config_) << "connection: &tuner\n"
                           << "  accepter: " << accepterStack << ",tcp," << port_ << "\n"
                           << "  connector: serialdev," << device_ << ",9600n81,local\n"
                           << "  options:\n"
                           << "    mdns: true\n"
                           << "    mdns-name: " << name << "\n";
    Serve();
  }
  // Exactly what `orvel-station init --name NAME` writes in the configuration root `root`, served
  // as init says to serve a configuration outside /etc.
  TAnnouncedStation(const std::string& name, const std::filesystem::path& root)
      : config_((root / "ser2net.yaml").string()) {
    std::filesystem::create_directory(root);
    const std::string command = "'" ORVEL_SOURCE_DIR
                                "/tools/orvel-station/orvel-station' "
                                "--config-root '" +
                                root.string() + "' init --device " + device_ + " --port " +
                                std::to_string(port_) + " --name '" + name + "' </dev/null 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run orvel-station");
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      said_.append(buffer, got);
    if (::pclose(pipe) != 0) throw std::runtime_error("orvel-station init failed:\n" + said_);
    Serve();
  }
  TAnnouncedStation(const TAnnouncedStation&) = delete;
  TAnnouncedStation& operator=(const TAnnouncedStation&) = delete;
  ~TAnnouncedStation() { ::close(master_); }
  void Stop() { ser2net_->Stop(); }
  unsigned Port() const { return port_; }
  const std::string& Config() const { return config_; }
  // What orvel-station init told the operator.
  const std::string& Said() const { return said_; }

 private:
  static std::string OpenDevice(int& master) {
    int slave = -1;
    ::openpty(&master, &slave, nullptr, nullptr, nullptr);
    char device[64];
    ::ptsname_r(master, device, sizeof device);
    ::close(slave);
    return device;
  }
  void Serve() {
    ser2net_ = std::make_unique<TSer2Net>(config_, port_);
    ser2net_->Start();
  }

  const unsigned port_ = FreeLocalPort();
  int master_ = -1;
  const std::string device_ = OpenDevice(master_);
  const std::string config_;
  std::string said_;
  std::unique_ptr<TSer2Net> ser2net_;
};

class StationBrowserTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!isolationProblem.empty()) GTEST_SKIP() << isolationProblem;
    char pattern[] = "/tmp/orvel-mdns-XXXXXX";
    directory_ = ::mkdtemp(pattern);
  }
  void TearDown() override {
    if (!directory_.empty()) std::filesystem::remove_all(directory_);
  }

  const TFoundStation* Found(const TStationBrowser& browser, const std::string& name) {
    for (const TFoundStation& station : browser.Stations())
      if (station.Name == name) return &station;
    return nullptr;
  }

  // Listed with an address of the veth pair, the station's link to the network.
  bool Reached(const TStationBrowser& browser, const std::string& name) {
    const TFoundStation* station = Found(browser, name);
    return station &&
           std::any_of(station->Addresses.begin(), station->Addresses.end(),
                       [](const std::string& address) { return address.starts_with("10.99.0."); });
  }

  TFakeUiThread ui_;
  std::string directory_;
};

TEST(GensioStackTest, TellsRfc2217AndTls) {
  const struct {
    const char* stack;
    bool rfc2217, tls;
  } rows[] = {
      {"telnet(rfc2217),tcp", true, false},
      {"telnet(rfc2217),ssl,tcp", true, true},
      {"telnet(rfc2217=true),ssl(clientauth),tcp", true, true},
      {"telnet(mode=server,rfc2217),tcp", true, false},
      {"telnet,tcp", false, false},
      {"telnet(rfc2217=false),tcp", false, false},
      {"tcp", false, false},
      {"ssl,tcp", false, true},
      {"mux,telnet(rfc2217),tcp", false, false},
      {"", false, false},
      {"telnet(rfc2217", false, false},
  };
  for (const auto& row : rows) {
    const TGensioStack stack = ParseGensioStack(row.stack);
    EXPECT_EQ(stack.Rfc2217, row.rfc2217) << row.stack;
    EXPECT_EQ(stack.Tls, row.tls) << row.stack;
  }
}

TEST_F(StationBrowserTest, FindsAnnouncedStationsAndLosesTheOnesThatGo) {
  TStationBrowser browser(&ui_);
  int changes = 0;
  browser.OnChange = [&] { ++changes; };
  browser.Start();
  // Nothing announced yet: the first look ends with an empty list, not a failure.
  ASSERT_TRUE(ui_.WaitUntil([&] { return browser.State() != TStationBrowser::TState::Looking; }));
  ASSERT_EQ(browser.State(), TStationBrowser::TState::Settled) << browser.Reason();
  EXPECT_TRUE(browser.Stations().empty());

  TAnnouncedStation plain("SHACK", "telnet(rfc2217)", directory_);
  // The TLS station as the operator sets one up.
  TAnnouncedStation tls("Attic tuner", std::filesystem::path(directory_) / "station");
  EXPECT_NE(tls.Said().find("ser2net -n -c " + tls.Config()), std::string::npos) << tls.Said();
  EXPECT_NE(tls.Said().find("announces the tuner on the local network (mDNS) as \"Attic tuner\""),
            std::string::npos)
      << tls.Said();
  // Announced by ser2net too, but no RFC 2217 station: never offered.
  TAnnouncedStation raw("LOGGER", "telnet", directory_);
  // A station is listed from its first record; the records of its other interfaces follow.
  ASSERT_TRUE(
      ui_.WaitUntil([&] { return Reached(browser, "SHACK") && Reached(browser, "Attic tuner"); },
                    std::chrono::seconds(5)));

  const struct {
    const char* name;
    unsigned port;
    bool tls;
  } rows[] = {{"SHACK", plain.Port(), false}, {"Attic tuner", tls.Port(), true}};
  for (const auto& row : rows) {
    const TFoundStation* station = Found(browser, row.name);
    ASSERT_NE(station, nullptr) << row.name;
    EXPECT_EQ(station->Host, std::string(kHostName) + ".local") << row.name;
    EXPECT_EQ(station->Port, row.port) << row.name;
    EXPECT_EQ(station->Tls, row.tls) << row.name;
    // IPv4 first.
    EXPECT_EQ(station->Addresses.front().find(':'), std::string::npos) << row.name;
  }
  EXPECT_EQ(browser.Stations().size(), 2u);
  EXPECT_EQ(browser.Stations().front().Name, "Attic tuner");

  tls.Stop();
  ASSERT_TRUE(
      ui_.WaitUntil([&] { return !Found(browser, "Attic tuner"); }, std::chrono::seconds(5)));
  EXPECT_NE(Found(browser, "SHACK"), nullptr);

  // Once stopped, nothing more is told, whatever the network does; the last list stays.
  browser.Stop();
  const int told = changes;
  plain.Stop();
  ui_.ProcessPendingEvents();
  EXPECT_EQ(changes, told);
  EXPECT_NE(Found(browser, "SHACK"), nullptr);
}

TEST_F(StationBrowserTest, StartedAgainLooksAfresh) {
  TAnnouncedStation plain("SHACK", "telnet(rfc2217)", directory_);
  TStationBrowser browser(&ui_);
  for (int round = 0; round < 2; ++round) {
    browser.Start();
    ASSERT_TRUE(
        ui_.WaitUntil([&] { return Found(browser, "SHACK") != nullptr; }, std::chrono::seconds(5)))
        << "round " << round;
    browser.Stop();
  }
  // Stopped while its news waits for the window: Stop serves that hand-over, which tells nothing.
  int changes = 0;
  browser.OnChange = [&] { ++changes; };
  browser.Start();
  ASSERT_TRUE(ui_.WaitForPending(std::chrono::seconds(5)));
  browser.Stop();
  EXPECT_EQ(changes, 0);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests (CTest does at build time) makes no namespaces.
  if (!testing::GTEST_FLAG(list_tests)) isolationProblem = Isolate();
  const int status = RUN_ALL_TESTS();
  for (const pid_t daemon : daemons) {
    ::kill(daemon, SIGTERM);
    ::waitpid(daemon, nullptr, 0);
  }
  return status;
}
