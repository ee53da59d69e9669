// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// ser2net and openssl driven from the tests.
#include "tests/station/Ser2Net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace {

std::string TemporaryDirectory(const char* pattern) {
  std::string path = (std::filesystem::temp_directory_path() / pattern).string();
  if (!::mkdtemp(path.data())) throw std::runtime_error("mkdtemp failed");
  return path;
}

void Run(const std::string& command) {
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
    throw std::runtime_error("failed: " + command);
  }
}

}  // namespace

bool Listening(const std::string& host, unsigned port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

unsigned FreeLocalPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(fd);
    throw std::runtime_error("no free port");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

TSer2Net::TSer2Net(std::string device, std::string tlsOptions, const std::string& authDirectory,
                   TStationPlace place)
    : device_(std::move(device)),
      tlsOptions_(std::move(tlsOptions)),
      place_(std::move(place)),
      port_(FreeLocalPort()),
      directory_(TemporaryDirectory("orvel-ser2net-XXXXXX")),
      config_(directory_ + "/ser2net.yaml") {
  std::ofstream config(config_);
  const std::string tls = tlsOptions_.empty() ? "" : "ssl(" + tlsOptions_ + "),";
  config << "connection: &tuner\n"
         << "  accepter: telnet(rfc2217)," << tls << "tcp," << place_.Host << "," << port_ << "\n"
         << "  connector: serialdev," << device_ << ",19200e71,local\n";
  if (!authDirectory.empty()) config << "  options:\n    authdir: " << authDirectory << "\n";
}

TSer2Net::TSer2Net(const std::string& configFile, unsigned port)
    : port_(port), directory_(TemporaryDirectory("orvel-ser2net-XXXXXX")), config_(configFile) {}

TSer2Net::~TSer2Net() {
  Stop();
  std::filesystem::remove_all(directory_);
}

void TSer2Net::Start() {
  Stop();
  const std::string& config = config_;
  const std::string pidFile = directory_ + "/ser2net.pid";
  pid_ = ::fork();
  if (pid_ == 0) {
    // A station outlives no test, not even one that crashes.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 1);
    ::dup2(null, 2);
    // A connection of the test's own must not stay open in the station.
    ::closefrom(3);
    if (!place_.Namespace.empty()) {
      ::execlp("ip", "ip", "netns", "exec", place_.Namespace.c_str(), "ser2net", "-n", "-u", "-P",
               pidFile.c_str(), "-c", config.c_str(), static_cast<char*>(nullptr));
    }
    ::execlp("ser2net", "ser2net", "-n", "-u", "-P", pidFile.c_str(), "-c", config.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Listening(place_.Host, port_)) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("ser2net ended at start");
    }
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("ser2net is deaf");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void TSer2Net::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ::kill(pid_, SIGCONT);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string TSer2Net::Address(const std::string& scheme) const {
  return scheme + "://" + place_.Host + ":" + std::to_string(port_);
}

TTestCertificates::TTestCertificates() : directory_(TemporaryDirectory("orvel-tls-XXXXXX")) {
  const std::string d = directory_;
  auto selfSigned = [&](const std::string& name, const std::string& subject) {
    Run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=" + subject + "'" +
        " -keyout " + d + "/" + name + ".key -out " + d + "/" + name + ".pem");
  };
  auto signedBy = [&](const std::string& name, const std::string& subject, const std::string& ca) {
    Run("openssl req -newkey rsa:2048 -nodes -subj /CN=" + subject + " -keyout " + d + "/" + name +
        ".key -out " + d + "/" + name + ".csr");
    Run("openssl x509 -req -days 2 -in " + d + "/" + name + ".csr -CA " + d + "/" + ca +
        ".pem -CAkey " + d + "/" + ca + ".key -CAcreateserial -out " + d + "/" + name + ".pem");
  };
  selfSigned("ca", "Orvel test authority");
  selfSigned("otherca", "Someone else");
  signedBy("station", "127.0.0.1", "ca");
  signedBy("stranger", "other.example", "ca");
  // ser2net accepts a client certificate found under auth/<its common name>/allowed_certs,
  // self-signed as its own key tool makes them.
  selfSigned("client", "operator");
  const std::string allowed = d + "/auth/operator/allowed_certs";
  std::filesystem::create_directories(allowed);
  std::filesystem::copy_file(d + "/client.pem", allowed + "/client.pem");
  Run("openssl rehash " + allowed);
}

TTestCertificates::~TTestCertificates() {
  std::filesystem::remove_all(directory_);
}

void TSer2Net::Freeze() {
  if (pid_ > 0) ::kill(pid_, SIGSTOP);
}

void TSer2Net::Thaw() {
  if (pid_ > 0) ::kill(pid_, SIGCONT);
}
