// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A station set up by orvel-station in a temporary configuration root, served by a real ser2net
// on 127.0.0.1 with exactly what it wrote, the simulated tuner behind a pseudo-terminal, and the
// serial port object connecting with the operator's own identity.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "station/NetworkAddress.h"
#include "station/OperatorIdentity.h"
#include "station/StationPins.h"
#include "tests/serial/FakeUiThread.h"
#include "tests/station/Ser2Net.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HasSubstr;
using testing::Not;

std::string TemporaryDirectory() {
  std::string path = (fs::temp_directory_path() / "orvel-station-test-XXXXXX").string();
  if (!::mkdtemp(path.data())) throw std::runtime_error("mkdtemp failed");
  return path;
}

// No test here may see or make the identity of the user who runs the tests.
class TPrivateConfigHome : public testing::Environment {
 public:
  void SetUp() override {
    // Folders made here are then nobody else's to write, whatever mask the run started with:
    // the private files' checks would refuse them.
    ::umask(022);
    home_ = TemporaryDirectory();
    ::setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(home_); }

 private:
  std::string home_;
};
const testing::Environment* const kPrivateConfigHome =
    testing::AddGlobalTestEnvironment(new TPrivateConfigHome);

struct TRun {
  int Status = -1;
  std::string Out;
};

// orvel-station with its standard error folded into its output, reading a file or ("&N") fd N.
TRun Station(const std::string& arguments, const std::string& input = "/dev/null") {
  const std::string command = "'" ORVEL_SOURCE_DIR "/tools/orvel-station/orvel-station' " +
                              arguments + " <" + (input[0] == '&' ? input : "'" + input + "'") +
                              " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("popen failed");
  TRun run;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    run.Out.append(buffer, got);
  const int status = ::pclose(pipe);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

unsigned Mode(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// The simulated tuner on its own pseudo-terminal, which it names on its first line.
class TSimulatedTuner {
 public:
  TSimulatedTuner() : ports_(TemporaryDirectory()) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ == 0) {
      // Ends with a test that crashes, rather than holding its output open for the runner.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::dup2(out[1], STDOUT_FILENO);
      ::setenv("ORVEL_PORTS_DIR", ports_.c_str(), 1);
      ::execl(ORVEL_BINARY_DIR "/orvel-tuner-sim", "orvel-tuner-sim", "--name", "SIM",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!line.ends_with('\n') && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{out[0], POLLIN, 0};
      char c;
      if (::poll(&ready, 1, 100) > 0 && ::read(out[0], &c, 1) == 1) line += c;
    }
    ::close(out[0]);
    if (!line.starts_with("SIM /dev/")) throw std::runtime_error("simulator said: " + line);
    device_ = line.substr(4, line.size() - 5);
  }
  ~TSimulatedTuner() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    fs::remove_all(ports_);
  }
  const std::string& Device() const { return device_; }

 private:
  std::string ports_;
  std::string device_;
  pid_t pid_ = -1;
};

class StationTest : public testing::Test {
 protected:
  StationTest() : root_(TemporaryDirectory()) {
    port_.SetUiHandOver(&ui_);
    port_.SetBaudRate(br009600);
    port_.OnReceive = [this](TSerialPort*, const std::string& buffer) { received_ += buffer; };
  }
  ~StationTest() override { fs::remove_all(root_); }

  std::string Root() const { return "--config-root '" + root_ + "' "; }

  // Empty when the port opened, else the reason; the failure's facts in failure_.
  std::string Open(const std::string& address) {
    port_.SetCustomPortName(address);
    port_.SetPort(spCustom);
    failure_ = {};
    try {
      port_.Open();
    } catch (const ESerialPortException& error) {
      failure_ = error.Station();
      return error.what();
    }
    return {};
  }

  bool Answered(const std::string& command, const std::string& answer) {
    received_.clear();
    port_.SendString(command);
    return ui_.WaitUntil([&] { return received_.find(answer) != std::string::npos; }, 15s);
  }

  const std::string root_;
  TFakeUiThread ui_;
  TSerialPort port_;
  std::string received_;
  TStationReport failure_;
};

TEST_F(StationTest, SetsUpAStationThatServesOnlyTheOperatorsItAllows) {
  TSimulatedTuner tuner;
  const unsigned other = FreeLocalPort();
  const unsigned first = FreeLocalPort();
  const std::string config = root_ + "/ser2net.yaml";
  const std::string others =
      "%YAML 1.1\n---\n# the shack's other radio\nconnection: &other\n"
      "  accepter: tcp,127.0.0.1," +
      std::to_string(other) + "\n  connector: serialdev,/dev/ttyS7,4800n81,local\n";
  std::ofstream(config) << others;

  // Without a device and no terminal to ask on, nothing is written; another connection's port
  // is refused; then two inits, the second changing only the port.
  TRun run = Station(Root() + "init");
  EXPECT_EQ(run.Status, 1);
  EXPECT_THAT(run.Out, HasSubstr("--device PATH"));
  EXPECT_EQ(ReadFile(config), others);
  run = Station(Root() + "init --device " + tuner.Device() + " --listen 127.0.0.1 --port " +
                std::to_string(other));
  EXPECT_EQ(run.Status, 1);
  EXPECT_THAT(run.Out, HasSubstr("port " + std::to_string(other) + " is used by another"));
  run = Station(Root() + "init --device " + tuner.Device() + " --listen 127.0.0.1 --port " +
                std::to_string(first));
  ASSERT_EQ(run.Status, 0) << run.Out;
  const std::string cert = root_ + "/ser2net/station.crt";
  const std::string fingerprint = CertificateFingerprint(cert);
  ASSERT_FALSE(fingerprint.empty());
  const std::string box = "SHA-256 fingerprint:\n" + FingerprintLines(fingerprint) + "\n";
  EXPECT_THAT(run.Out, HasSubstr("Station certificate " + box));
  unsigned port = FreeLocalPort();
  while (port == other || port == first) port = FreeLocalPort();
  run = Station(Root() + "init --port " + std::to_string(port));
  ASSERT_EQ(run.Status, 0) << run.Out;
  EXPECT_THAT(run.Out, HasSubstr("Address:  rfc2217+tls://127.0.0.1:" + std::to_string(port)));
  EXPECT_EQ(CertificateFingerprint(cert), fingerprint);
  const std::string written = ReadFile(config);
  EXPECT_TRUE(written.starts_with(others)) << written;
  EXPECT_EQ(Count(written, "connection:"), 2u) << written;
  EXPECT_THAT(written, HasSubstr("tcp,127.0.0.1," + std::to_string(port) + "\n"));
  EXPECT_THAT(written, HasSubstr("serialdev," + tuner.Device() + ",9600n81,local\n"));
  int backups = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(root_)) {
    if (entry.path().extension() != ".bak") continue;
    ++backups;
    const std::string old = ReadFile(entry.path());
    EXPECT_TRUE(old == others || Count(old, "tcp,127.0.0.1," + std::to_string(first)) == 1) << old;
  }
  EXPECT_EQ(backups, 2);
  EXPECT_EQ(Mode(root_ + "/ser2net"), 0700u);
  EXPECT_EQ(Mode(root_ + "/ser2net/station.key"), 0600u);
  EXPECT_EQ(Mode(root_ + "/ser2net/auth"), 0700u);

  // The operator's identity, made on first need, allowed from a file.
  std::string reason;
  const std::optional<TOperatorIdentity> identity = EnsureOperatorIdentity("op-1", reason);
  ASSERT_TRUE(identity) << reason;
  EXPECT_EQ(Mode(identity->KeyFile), 0600u);
  EXPECT_EQ(Mode(fs::path(identity->KeyFile).parent_path()), 0700u);
  const std::string operatorPrint = CertificateFingerprint(identity->CertFile);
  run = Station(Root() + "allow " + identity->CertFile);
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_EQ(Station("allow - " + Root(), identity->CertFile).Out,
            "op-1 is allowed already. Operator certificate SHA-256 fingerprint:\n" +
                FingerprintLines(operatorPrint) + "\n");
  EXPECT_EQ(Mode(root_ + "/ser2net/auth/op-1/allowed_certs"), 0700u);
  EXPECT_EQ(Station(Root() + "allow", identity->KeyFile).Status, 1);
  EXPECT_THAT(Station(Root() + "operators").Out,
              testing::MatchesRegex("op-1, valid until .*, SHA-256 fingerprint:\n" +
                                    FingerprintLines(operatorPrint) + "\n"));

  TSer2Net ser2net(config, port);
  ser2net.Start();
  // Not yet trusted, the station is refused with the very fingerprint that init printed.
  EXPECT_THAT(Open("rfc2217+tls://127.0.0.1:" + std::to_string(port)),
              HasSubstr("certificate SHA-256 " + fingerprint));
  const std::string address = "rfc2217+tls://127.0.0.1:" + std::to_string(port) + "?ca=" + cert;
  ASSERT_EQ(Open(address), "");
  ASSERT_TRUE(Answered("ATU?\r\n", "ATU_KORAX"));
  run = Station(Root() + "status");
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_THAT(run.Out, HasSubstr("Station certificate " + box));
  EXPECT_THAT(run.Out, HasSubstr("Listening on: 127.0.0.1:" + std::to_string(port) + "\n"));
  EXPECT_THAT(run.Out, HasSubstr("Connected: 127.0.0.1:"));
  ASSERT_TRUE(Answered("TUNE ON\r\n", "PA_CTRL ON"));
  EXPECT_TRUE(
      ui_.WaitUntil([&] { return received_.find("PA_CTRL OFF") != std::string::npos; }, 15s));
  EXPECT_THAT(received_, HasSubstr("END_SWR:"));
  port_.Close();

  // Revoked, the same operator is turned away; allowed again from standard input, served.
  run = Station(Root() + "revoke op-1");
  EXPECT_EQ(run.Status, 0) << run.Out;
  EXPECT_THAT(Station(Root() + "operators").Out, Not(HasSubstr("op-1")));
  EXPECT_NE(Open(address), "");
  EXPECT_EQ(failure_.Failure, TStationFailure::ClientCertificateRefused);
  EXPECT_EQ(port_.ConnectedPort(), spNone);
  ASSERT_EQ(Station(Root() + "allow -", identity->CertFile).Status, 0);
  ASSERT_EQ(Open(address), "");
  EXPECT_TRUE(Answered("ATU?\r\n", "ATU_KORAX"));
  port_.Close();
}

TEST_F(StationTest, NothingIsWrittenThroughALink) {
  const std::string target = root_ + "/elsewhere";
  std::ofstream(target) << "untouched\n";
  fs::create_symlink(target, root_ + "/ser2net.yaml");
  TRun run = Station(Root() + "init --device /dev/ttyS7");
  EXPECT_EQ(run.Status, 1);
  EXPECT_THAT(run.Out, HasSubstr("ser2net.yaml is a symbolic link"));
  fs::remove(root_ + "/ser2net.yaml");
  fs::create_directory_symlink(root_, root_ + "/ser2net");
  run = Station(Root() + "init --device /dev/ttyS7");
  EXPECT_EQ(run.Status, 1);
  EXPECT_THAT(run.Out, HasSubstr("/ser2net is a symbolic link"));
  EXPECT_EQ(ReadFile(target), "untouched\n");
  EXPECT_FALSE(fs::exists(root_ + "/station.key"));

  // The operator's identity: a link or a key that others can read is not used, nor replaced.
  const std::string home = std::getenv("XDG_CONFIG_HOME");
  const std::string folder = home + "/orvel";
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::create_symlink(target, folder + "/operator.key");
  std::ofstream(folder + "/operator.crt") << "certificate\n";
  std::string reason;
  EXPECT_FALSE(EnsureOperatorIdentity("", reason));
  EXPECT_THAT(reason, HasSubstr("operator.key is a symbolic link"));
  EXPECT_EQ(ReadFile(target), "untouched\n");
  fs::remove(folder + "/operator.key");
  std::ofstream(folder + "/operator.key") << "key\n";
  ::chmod((folder + "/operator.key").c_str(), 0644);
  TNetworkAddress address{TNetworkKind::Rfc2217Tls, "shack", false, 3002, "", "", ""};
  EXPECT_FALSE(UseOperatorIdentity(address, reason));
  EXPECT_EQ(reason, folder + "/operator.key can be read by others; make it private: chmod 600 " +
                        folder + "/operator.key");
  ::chmod((folder + "/operator.key").c_str(), 0600);
  EXPECT_TRUE(UseOperatorIdentity(address, reason)) << reason;
  EXPECT_EQ(address.KeyFile, folder + "/operator.key");
  fs::remove_all(folder);
}

bool Listens(unsigned port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

// Every path below `folder` with its content ("->" and the target for a link).
std::string Snapshot(const std::string& folder) {
  std::string text;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator();
       ++it) {
    text += it->path().string();
    if (it->is_symlink()) {
      text += " -> " + fs::read_symlink(it->path()).string();
    } else if (it->is_regular_file()) {
      text += ": " + ReadFile(it->path());
    }
    text += "\n";
  }
  return text;
}

// Roots and configurations as a careless hand or another user may leave them: the tool either
// writes a configuration on which ser2net starts with every other connection, or says why and
// leaves everything as it was; nothing outside the root is ever read through, written or removed.
TEST(StationToolTest, HostileRootsAndConfigurations) {
  struct TCase {
    const char* name;
    // The configuration's text before the run ("" for none); OTHER stands for the other
    // connection's port, PORT for the one init is asked for.
    std::string config;
    // Prepares the root (`root`) with links to `outside`; may rename the root.
    std::function<void(std::string& root, const std::string& outside)> prepare;
    std::string arguments;  // after the root unless they name it (ROOT); PORT as above
    int status;
    std::string message;
    bool written;  // the configuration changed: ser2net starts on it
  };
  const std::string others =
      "%YAML 1.1\n---\n# the shack's other radio\ndefine: &speed 4800n81\n"
      "connection: &other\n  accepter: telnet(rfc2217),tcp,127.0.0.1,OTHER  # the FT-817\n"
      "  connector: serialdev,/dev/ttyS7,*(speed),local\n"
      "rotator: &both\n  accepter: tcp,127.0.0.1,ROTATOR\n  connections: [ *other ]\n";
  const std::string block =
      "# orvel-station: begin (rewritten by orvel-station init; edit outside this block)\n"
      "connection: &orvel-tuner\n  accepter: tcp,127.0.0.1,PORT\n"
      "  connector: serialdev,/dev/ttyS9,9600n81,local\n# orvel-station: end\n";
  const auto none = [](std::string&, const std::string&) {};
  const auto link = [](const char* name, const char* target) {
    return [=](std::string& root, const std::string& outside) {
      fs::create_directories(fs::path(root + "/" + name).parent_path());
      fs::create_symlink(outside + "/" + target, root + "/" + name);
    };
  };
  const auto rename = [](const char* folder) {
    return [=](std::string& root, const std::string&) {
      const std::string renamed = fs::path(root).parent_path().string() + "/" + folder;
      fs::rename(root, renamed);
      root = renamed;
    };
  };
  const std::string init = "init --device /dev/ttyS9 --listen 127.0.0.1 --port PORT";
  // The key of one pair beside the certificate of another.
  const auto strangers = [](std::string& root, const std::string&) {
    const std::string make =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
        "-nodes -subj /CN=x 2>/dev/null -keyout ";
    ASSERT_EQ(std::system(("mkdir '" + root + "/ser2net' && cd '" + root + "/ser2net' && " + make +
                           "station.key -out /dev/null && " + make + "/dev/null -out station.crt")
                              .c_str()),
              0);
  };
  const TCase cases[] = {
      {"other connections with comments, defines and an alias", others, none, init, 0,
       "Wrote the tuner's connection", true},
      {"the root after the command", others, none,
       "init --name 'Shack tuner' --device=/dev/ttyS9 --listen=127.0.0.1 --port=PORT "
       "--config-root ROOT",
       0, "as \"Shack tuner\"", true},
      {"a block rewritten in place", others + block + "# after the block\n", none,
       "init --listen 127.0.0.1 --port PORT", 0, "Wrote the tuner's connection", true},
      {"the end mark removed",
       others + block.substr(0, block.rfind("# orvel")) + "connection: &later\n  accepter: tcp,1\n",
       none, init, 1, "does not hold orvel-station's block whole", false},
      {"a connection of that name written by hand",
       others + "connection: &orvel-tuner\n  accepter: tcp,127.0.0.1,PORT\n", none, init, 1,
       "already holds a connection named orvel-tuner", false},
      {"a document ended by ...", others + "...\n", none, init, 1, "ends its YAML document", false},
      {"no YAML", others + "connection: &x\n  accepter: \"tcp,1\n", none, init, 1,
       "cannot be read as YAML at line", false},
      {"a connection that ser2net refuses",
       others +
           "connection: &other\n  accepter: tcp,127.0.0.1,1\n  connector: serialdev,/dev/ttyS6\n",
       none, init, 1, "Duplicate connection name: other", false},
      {"the port quoted", others + "connection: &q\n  accepter: \"tcp,127.0.0.1,PORT\"\n", none,
       init, 1, "port PORT is used by another connection", false},
      {"the port after a comment and folded",
       others + "connection: &f  # spare\n  accepter: >-\n    tcp,\n    127.0.0.1,\n    PORT\n",
       none, init, 1, "port PORT is used by another connection", false},
      {"the port before a comment", others, none,
       "init --device /dev/ttyS9 --listen 127.0.0.1 --port OTHER", 1,
       "port OTHER is used by another connection", false},
      {"the port in a define",
       others + "define: &p PORT\nconnection: &d\n  accepter: tcp,127.0.0.1,*(p)\n", none, init, 1,
       "port PORT is used by another connection", false},
      {"a device path with U+2028", others, none,
       "init --device /dev/tty\u2028S9 --listen 127.0.0.1 --port PORT", 1,
       "the device path may hold only", false},
      {"a device path with U+0085", others, none,
       "init --device /dev/tty\u0085S9 --listen 127.0.0.1 --port PORT", 1,
       "the device path may hold only", false},
      {"a name with a line break", others, none,
       "init --device /dev/ttyS9 --name 'a\u2028b' --listen 127.0.0.1 --port PORT", 1,
       "--name needs", false},
      {"a root with )", others, rename("st)a"), init, 1, "the station's folder may hold only",
       false},
      {"a root with $(", others, rename("st$(x"), init, 1, "the station's folder may hold only",
       false},
      {"a host name to listen on", others, none,
       "init --device /dev/ttyS9 --listen localhost --port PORT", 2, "--listen needs an IP address",
       false},
      {"the configuration a link", "", link("ser2net.yaml", "file"), init, 1,
       "ser2net.yaml is a symbolic link", false},
      {"the key a link", others, link("ser2net/station.key", "file"), init, 1,
       "station.key is a symbolic link", false},
      {"the certificate a link", others, link("ser2net/station.crt", "file"), init, 1,
       "station.crt is a symbolic link", false},
      {"the operators' folder a link", others, link("ser2net/auth", "folder"), "revoke op", 1,
       "auth is a symbolic link", false},
      {"an operator's folder a link", others, link("ser2net/auth/op", "folder"), "revoke op", 0,
       "Revoked op", false},
      {"an operator's certificates a link", others, link("ser2net/auth/op/allowed_certs", "folder"),
       "operators", 1, "allowed_certs is a symbolic link", false},
      {"the keepalive folder a link", others, link("sysctl.d", "folder"), init, 1,
       "sysctl.d is a symbolic link", false},
      {"a key that does not belong to the certificate", others, strangers, init, 1,
       "station.key does not belong to", false},
      {"an unknown option", others, none, "init --bogus", 2, "unknown option --bogus", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string top = TemporaryDirectory();
    std::string root = top + "/station";
    const std::string outside = top + "/outside";
    fs::create_directories(root);
    fs::create_directories(outside + "/folder/allowed_certs");
    std::ofstream(outside + "/file") << "untouched\n";
    std::ofstream(outside + "/folder/allowed_certs/x.crt") << "untouched\n";
    const unsigned other = FreeLocalPort();
    unsigned rotator = FreeLocalPort(), port = FreeLocalPort();
    while (rotator == other) rotator = FreeLocalPort();
    while (port == other || port == rotator) port = FreeLocalPort();
    auto fill = [&](std::string text) {
      for (const auto& [word, value] :
           {std::pair{"OTHER", other}, {"ROTATOR", rotator}, {"PORT", port}})
        for (std::size_t at; (at = text.find(word)) != std::string::npos;)
          text.replace(at, std::string(word).size(), std::to_string(value));
      return text;
    };
    c.prepare(root, outside);
    const std::string config = root + "/ser2net.yaml";
    if (!c.config.empty()) std::ofstream(config) << fill(c.config);
    const std::string before = fs::exists(config) ? ReadFile(config) : "";
    const std::string outsideBefore = Snapshot(outside);

    std::string arguments = fill(c.arguments);
    if (const std::size_t at = arguments.find("ROOT"); at != std::string::npos) {
      arguments.replace(at, 4, "'" + root + "'");
    } else {
      arguments = "--config-root '" + root + "' " + arguments;
    }
    const TRun run = Station(arguments);
    EXPECT_EQ(run.Status, c.status) << run.Out;
    EXPECT_THAT(run.Out, HasSubstr(fill(c.message)));
    EXPECT_THAT(run.Out, Not(HasSubstr("Traceback")));
    EXPECT_EQ(Snapshot(outside), outsideBefore);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(top)) {
      const std::string name = entry.path().filename();
      EXPECT_TRUE(!name.starts_with(".") || name == ".orvel-station.lock") << entry.path();
    }
    if (!c.written) {
      if (!fs::is_symlink(config)) {
        EXPECT_EQ(fs::exists(config) ? ReadFile(config) : "", before);
      }
    } else {
      const std::string written = ReadFile(config);
      EXPECT_TRUE(written.starts_with(fill(others))) << written;
      EXPECT_EQ(Count(written, "connection: &orvel-tuner"), 1u) << written;
      EXPECT_THAT(written, HasSubstr("    mdns: true\n    mdns-name: "));
      TSer2Net ser2net(config, port);
      ASSERT_NO_THROW(ser2net.Start()) << written;
      EXPECT_TRUE(Listens(other));
      EXPECT_TRUE(Listens(rotator));
    }
    fs::remove_all(top);
  }
}

// Inits at once take turns: one certificate, its key, each backup what the run before it wrote.
TEST(StationToolTest, RunsAtOnceTakeTurns) {
  const std::string root = TemporaryDirectory(), pair = root + "/ser2net/station.";
  std::ofstream(root + "/ser2net.yaml") << "# the shack\n";
  const std::string init =
      "'" ORVEL_SOURCE_DIR "/tools/orvel-station/orvel-station' --config-root " + root +
      " init --device /dev/ttyS9 --listen 127.0.0.1 --port $p >" + root + "/said$p 2>&1";
  ASSERT_EQ(std::system(("for p in 3101 3102 3103; do " + init + " & done; wait").c_str()), 0);
  const std::vector<std::string> ports = {"3101", "3102", "3103"};
  for (const std::string& port : ports)
    EXPECT_THAT(ReadFile(root + "/said" + port),
                HasSubstr("fingerprint:\n" +
                          FingerprintLines(CertificateFingerprint(pair + "crt")) + "\n"));
  std::vector<std::string> served;
  for (const fs::directory_entry& file : fs::directory_iterator(root)) {
    const std::string text = ReadFile(file.path());
    const std::size_t at = text.find("tcp,127.0.0.1,");
    if (at != std::string::npos) served.push_back(text.substr(at + 14, 4));
  }
  std::sort(served.begin(), served.end());
  EXPECT_EQ(served, ports);
  const std::string belong = "[ \"$(openssl pkey -pubout -in " + pair +
                             "key)\" = \"$(openssl x509 -noout -pubkey -in " + pair + "crt)\" ]";
  EXPECT_EQ(std::system(belong.c_str()), 0);
  fs::remove_all(root);
}

// More than a certificate's worth on standard input is refused after reading just past it.
TEST(StationToolTest, InputPastItsCapIsRefusedUnread) {
  const std::string root = TemporaryDirectory(), input = root + "/input";
  const int fd = ::open(input.c_str(), O_RDWR | O_CREAT, 0600);  // shared with the run, offset too
  ASSERT_EQ(::ftruncate(fd, 64 << 20), 0);
  const TRun run = Station("--config-root '" + root + "' allow -", "&" + std::to_string(fd));
  EXPECT_THAT(run.Out, HasSubstr("standard input holds more than 1 MB"));
  EXPECT_LE(::lseek(fd, 0, SEEK_CUR), (1 << 20) + 1);
  ::close(fd);
  fs::remove_all(root);
}

// The trusted stations' file: what a check says for each state the file can be in, what a pin
// leaves behind, and the operator's ways of writing a station and a fingerprint.
const std::string kOld = NormalFingerprint(std::string(64, 'a'));
const std::string kNew = NormalFingerprint(std::string(64, 'b'));
// The tests run as root: files and folders are given to nobody to be another user's.
constexpr uid_t kNobody = 65534;

TEST(StationPinsTest, ChecksAndPinsWhateverStateTheFileIsIn) {
  struct TCase {
    const char* name;
    // Prepares the folder (the file is `file`, a link's target `elsewhere`).
    std::function<void(const TStationPins& pins, const std::string& elsewhere)> prepare;
    TPinVerdict verdict;  // of the shown certificate kNew for shack.local:3002
    const char* reason;   // part of the reason, for a file that is not read
    bool pinned;          // whether pinning kNew then succeeds
  };
  auto pin = [](const TStationPins& pins, const std::string& station, const std::string& print) {
    std::string previous, reason;
    ASSERT_TRUE(pins.Pin(station, print, previous, reason)) << reason;
  };
  const TCase cases[] = {
      {"no file", [](auto&, auto&) {}, TPinVerdict::Unknown, "", true},
      {"another station only", [&](auto& pins, auto&) { pin(pins, "[::1]:3002", kOld); },
       TPinVerdict::Unknown, "", true},
      {"the same certificate", [&](auto& pins, auto&) { pin(pins, "shack.local:3002", kNew); },
       TPinVerdict::Trusted, "", true},
      {"a changed certificate", [&](auto& pins, auto&) { pin(pins, "shack.local:3002", kOld); },
       TPinVerdict::Changed, "", true},
      {"a damaged line",
       [&](auto& pins, auto&) {
         pin(pins, "shack.local:3002", kNew);
         std::ofstream(pins.File(), std::ios::app) << "shack.local:3003 12:34\n";
       },
       TPinVerdict::Unreadable, "known-stations is damaged at line 4; correct or remove that line",
       false},
      {"a link in its place",
       [](auto& pins, auto& elsewhere) {
         std::ofstream(elsewhere) << "shack.local:3002 " << kNew << "\n";
         fs::create_directories(fs::path(pins.File()).parent_path());
         fs::create_symlink(elsewhere, pins.File());
       },
       TPinVerdict::Unreadable, "known-stations is a symbolic link", false},
      {"others may change it",
       [&](auto& pins, auto&) {
         pin(pins, "shack.local:3002", kNew);
         ::chmod(pins.File().c_str(), 0622);
       },
       TPinVerdict::Unreadable, "can be changed by others; make it private: chmod 600", false},
      {"its group may change it",
       [&](auto& pins, auto&) {
         pin(pins, "shack.local:3002", kNew);
         ::chmod(pins.File().c_str(), 0620);
       },
       TPinVerdict::Unreadable, "can be changed by others; make it private: chmod 600", false},
      {"another user's file",
       [&](auto& pins, auto&) {
         pin(pins, "shack.local:3002", kNew);
         ASSERT_EQ(::chown(pins.File().c_str(), kNobody, kNobody), 0);
       },
       TPinVerdict::Unreadable, "known-stations is not a file of this user's", false},
      {"the host pinned on another port",
       [&](auto& pins, auto&) { pin(pins, "shack.local:3003", kNew); }, TPinVerdict::Unknown, "",
       true},
      // The folder: whoever may change it may remove a pin, and turn the refusal of a changed
      // certificate back into a first-use question.
      {"others may change the folder",
       [&](auto& pins, auto&) {
         pin(pins, "shack.local:3002", kNew);
         ::chmod(fs::path(pins.File()).parent_path().c_str(), 0770);
       },
       TPinVerdict::Unreadable, "/orvel can be changed by others; make it private: chmod 700 /",
       false},
      {"another user's folder",
       [&](auto& pins, auto&) {
         pin(pins, "shack.local:3002", kNew);
         ASSERT_EQ(::chown(fs::path(pins.File()).parent_path().c_str(), kNobody, kNobody), 0);
       },
       TPinVerdict::Unreadable, "/orvel belongs to another user", false},
      {"a link to a folder in its place",
       [&](auto& pins, auto& elsewhere) {
         const fs::path folder = fs::path(pins.File()).parent_path();
         fs::create_directories(elsewhere + ".d");
         std::ofstream(elsewhere + ".d/known-stations") << "shack.local:3002 " << kNew << "\n";
         fs::create_directories(folder.parent_path());
         fs::create_directory_symlink(elsewhere + ".d", folder);
       },
       TPinVerdict::Unreadable, "/orvel is a symbolic link", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string root = (fs::temp_directory_path() / "orvel-pins-XXXXXX").string();
    ASSERT_NE(::mkdtemp(root.data()), nullptr);
    const std::string folder = root + "/config/orvel";
    const std::string elsewhere = root + "/elsewhere";
    const TStationPins pins(folder);
    c.prepare(pins, elsewhere);
    const std::string before = ReadFile(pins.File());
    const std::string target = ReadFile(elsewhere);

    const TPinCheck check = pins.Check("shack.local:3002", kNew);
    EXPECT_EQ(check.Verdict, c.verdict);
    EXPECT_EQ(check.Pinned, c.verdict == TPinVerdict::Changed   ? kOld
                            : c.verdict == TPinVerdict::Trusted ? kNew
                                                                : "");
    EXPECT_THAT(check.Reason, HasSubstr(c.reason));

    std::string previous, reason;
    EXPECT_EQ(pins.Pin("shack.local:3002", kNew, previous, reason), c.pinned) << reason;
    EXPECT_EQ(previous, c.verdict == TPinVerdict::Unknown || !c.pinned ? "" : check.Pinned);
    EXPECT_EQ(ReadFile(elsewhere), target);
    if (c.pinned) {
      EXPECT_EQ(pins.Check("shack.local:3002", kNew).Verdict, TPinVerdict::Trusted);
      EXPECT_EQ(Mode(pins.File()), 0600u);
      EXPECT_EQ(Mode(folder), 0700u);
      const std::string written = ReadFile(pins.File());
      EXPECT_EQ(written.find("shack.local:3002 " + kNew + "\n"), written.rfind("shack.local:3002"));
      EXPECT_EQ(written.find(kOld) != std::string::npos,
                c.verdict == TPinVerdict::Unknown && before.find(kOld) != std::string::npos);
    } else {
      EXPECT_THAT(reason, HasSubstr(c.reason));
      EXPECT_EQ(ReadFile(pins.File()), before);
    }
    fs::remove_all(root);
  }
}

// The one place the program and its window find the user's folder, by the desktop's rule.
TEST(StationPinsTest, TheUserFolderAsTheDesktopNamesIt) {
  std::vector<std::pair<const char*, std::optional<std::string>>> saved;
  for (const char* name : {"XDG_CONFIG_HOME", "HOME"}) {
    const char* value = std::getenv(name);
    saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
  const struct {
    const char* config;  // XDG_CONFIG_HOME
    const char* home;
    const char* folder;
  } cases[] = {
      {"/c", "/h", "/c/orvel"},
      {"", "/h", "/h/.config/orvel"},
      {"relative", "/h", "/h/.config/orvel"},
      {"", "", ""},
      {"", "relative", ""},
  };
  for (const auto& c : cases) {
    ::setenv("XDG_CONFIG_HOME", c.config, 1);
    ::setenv("HOME", c.home, 1);
    EXPECT_EQ(UserConfigDirectory(), c.folder) << c.config << " " << c.home;
    EXPECT_EQ(TStationPins().File(), *c.folder ? c.folder + std::string("/known-stations") : "");
  }
  for (const auto& [name, value] : saved)
    value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
}

TEST(StationPinsTest, FingerprintsAsOperatorsWriteThem) {
  struct TCase {
    std::string text;
    std::string normal;
  };
  const std::string zeros(60, '0');
  std::string normal = "3A:5F";
  for (int i = 0; i < 30; ++i) normal += ":00";
  std::string lower = normal;
  lower[1] = 'a';
  lower[3] = '5';
  lower[4] = 'f';
  const TCase prints[] = {
      {"3A5F" + zeros, normal}, {"3a5f" + zeros, normal}, {lower, normal},
      {normal, normal},         {"3A5" + zeros, ""},      {"3A5F0" + zeros, ""},
      {"3A5G" + zeros, ""},     {"3A:5F::" + zeros, ""},  {"3A:5" + zeros.substr(1) + "F0", ""},
      {normal + ":", ""},       {":" + normal, ""},       {normal + ".", ""}};
  for (const TCase& c : prints) EXPECT_EQ(NormalFingerprint(c.text), c.normal) << c.text;
  EXPECT_EQ(PemFingerprint("not a certificate"), "");
}

}  // namespace
