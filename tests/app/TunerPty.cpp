// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Pseudo-terminal tuner end for tests.
#include "TunerPty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <filesystem>
#include <stdexcept>

TTunerPty::TTunerPty() {
  char name[256] = {};
  if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  termios raw{};
  ::tcgetattr(slave_, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(slave_, TCSANOW, &raw);
  devicePath_ = name;
}

TTunerPty::~TTunerPty() {
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
}

void TTunerPty::LinkAs(const std::string& directory, const std::string& name) {
  std::filesystem::create_directories(directory);
  std::filesystem::create_symlink(devicePath_, std::filesystem::path(directory) / name);
}

void TTunerPty::Write(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("write to the pseudo-terminal failed");
    done += static_cast<std::size_t>(n);
  }
}

void TTunerPty::ReadSome(int timeoutMs) {
  pollfd fd{master_, POLLIN, 0};
  if (::poll(&fd, 1, timeoutMs) <= 0 || !(fd.revents & POLLIN)) return;
  char buffer[4096];
  const ssize_t n = ::read(master_, buffer, sizeof buffer);
  if (n > 0) received_.append(buffer, static_cast<std::size_t>(n));
}

bool TTunerPty::WaitFor(const std::string& expected, int timeoutMs) {
  // qWaitFor runs the window's events, which the receive thread hands its events over to.
  return QTest::qWaitFor(
      [&] {
        ReadSome(5);
        return received_.find(expected) != std::string::npos;
      },
      timeoutMs);
}

std::string TTunerPty::Drain(int timeoutMs) {
  const std::size_t before = received_.size();
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ReadSome(5);
  }
  return received_.substr(before);
}

void TTunerPty::Hangup() {
  ::close(master_);
  master_ = -1;
  ::close(slave_);
  slave_ = -1;
}
