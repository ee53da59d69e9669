// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The station connection's socket as the kernel sees it; gensio 2.6.2 passes on no keepalive
// timing and hands out no descriptor of a TCP connection.
#include "station/StationSocket.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// A silent dead link is found within KeepIdle + KeepInterval x KeepCount seconds while idle,
// and within UserTimeout while a write is unanswered.
constexpr int KeepIdle = 2;
constexpr int KeepInterval = 2;
constexpr int KeepCount = 3;
constexpr unsigned UserTimeoutMs = 8000;
// The kernel's TCP_ESTABLISHED, which no user-space header of the tcp_info with its byte counts
// names.
constexpr unsigned EstablishedState = 1;

unsigned PortOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  }
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  }
  return 0;
}

bool InfoOf(int fd, tcp_info& info) {
  socklen_t size = sizeof info;
  return fd >= 0 && ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) == 0;
}

}  // namespace

int TStationSocket::FindGensioSocket(unsigned localPort, unsigned remotePort) {
  DIR* directory = ::opendir("/proc/self/fd");
  if (!directory) return -1;
  int found = -1;
  while (const dirent* entry = ::readdir(directory)) {
    const int fd = std::atoi(entry->d_name);
    if (fd <= 0 && std::strcmp(entry->d_name, "0") != 0) continue;
    sockaddr_storage local{};
    sockaddr_storage remote{};
    socklen_t localSize = sizeof local;
    socklen_t remoteSize = sizeof remote;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) == 0 &&
        PortOf(local) == localPort &&
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remoteSize) == 0 &&
        PortOf(remote) == remotePort) {
      found = fd;
      break;
    }
  }
  ::closedir(directory);
  return found;
}

bool TStationSocket::SendTelnetNoOperations(int fd) {
  tcp_info info{};
  if (!InfoOf(fd, info) || info.tcpi_state != EstablishedState || info.tcpi_bytes_received != 0) {
    return false;
  }
  static constexpr char NoOperations[] = {'\xff', '\xf1', '\xff', '\xf1'};
  return ::send(fd, NoOperations, sizeof NoOperations, MSG_NOSIGNAL | MSG_DONTWAIT) ==
         static_cast<ssize_t>(sizeof NoOperations);
}

bool TStationSocket::Adopt(int fd) {
  if (fd < 0) return false;
  const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return false;
  Close();
  fd_ = own;
  const int on = 1;
  setsockopt(own, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(own, IPPROTO_TCP, TCP_KEEPIDLE, &KeepIdle, sizeof KeepIdle);
  setsockopt(own, IPPROTO_TCP, TCP_KEEPINTVL, &KeepInterval, sizeof KeepInterval);
  setsockopt(own, IPPROTO_TCP, TCP_KEEPCNT, &KeepCount, sizeof KeepCount);
  setsockopt(own, IPPROTO_TCP, TCP_USER_TIMEOUT, &UserTimeoutMs, sizeof UserTimeoutMs);
  return true;
}

std::optional<std::uint64_t> TStationSocket::ReceivedBytes() const {
  tcp_info info{};
  if (!InfoOf(fd_, info)) return std::nullopt;
  return info.tcpi_bytes_received;
}

std::optional<std::chrono::microseconds> TStationSocket::RoundTrip() const {
  tcp_info info{};
  if (!InfoOf(fd_, info) || info.tcpi_rtt == 0) return std::nullopt;
  return std::chrono::microseconds(info.tcpi_rtt);
}

void TStationSocket::ShutInput() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RD);
}

void TStationSocket::ResetOnClose() {
  if (fd_ < 0) return;
  const linger reset{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  // A hung station's kernel still acknowledges, but it answers no TLS farewell: without its own
  // end of input the connection would wait for one at close until the station resumes.
  ShutInput();
}

void TStationSocket::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}
