// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
#include "tests/station/DeafListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

TDeafListener::TDeafListener(bool fillQueue)
    : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd_, fillQueue ? 0 : 4) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(fd_);
    throw std::runtime_error("no listener");
  }
  port_ = ntohs(address.sin_port);
  for (int i = 0; fillQueue && i < 3; ++i) {
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers_.push_back(client);
  }
}

TDeafListener::~TDeafListener() {
  for (int fd : fillers_) ::close(fd);
  ::close(fd_);
}

bool TDeafListener::Called() const {
  pollfd waiting{fd_, POLLIN, 0};
  return ::poll(&waiting, 1, 0) == 1;
}

void TDeafListener::Drain() {
  while (Called()) ::close(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
}
