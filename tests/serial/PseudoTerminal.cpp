// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Pseudo-terminal pairs for the serial tests.
#include "PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <stdexcept>

TPseudoTerminal::TPseudoTerminal() {
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  slavePath_ = name;
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

TPseudoTerminal::~TPseudoTerminal() {
  CloseSlave();
  CloseMaster();
}

void TPseudoTerminal::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t count = ::write(master_, bytes.data(), bytes.size());
    if (count <= 0) throw std::runtime_error("write to the pseudo-terminal failed");
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
}

std::string TPseudoTerminal::Read(std::chrono::milliseconds quiet) {
  std::string received;
  pollfd readable{master_, POLLIN, 0};
  while (::poll(&readable, 1, static_cast<int>(quiet.count())) > 0 && (readable.revents & POLLIN)) {
    char buffer[4096];
    const ssize_t count = ::read(master_, buffer, sizeof buffer);
    if (count <= 0) break;
    received.append(buffer, static_cast<std::size_t>(count));
  }
  return received;
}

void TPseudoTerminal::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void TPseudoTerminal::CloseSlave() {
  if (slave_ >= 0) ::close(slave_);
  slave_ = -1;
}

bool TPseudoTerminal::SlaveReleased() const {
  pollfd hangup{master_, 0, 0};
  return ::poll(&hangup, 1, 0) > 0 && (hangup.revents & POLLHUP);
}
