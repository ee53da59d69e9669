// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Pseudo-terminal pairs for the tuner's end of the line.
#include "tools/tuner-sim/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

TPseudoTerminal::TPseudoTerminal() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master_ < 0) Fail("cannot open a pseudo-terminal");
  char path[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, path, sizeof path)) {
    const int saved = errno;
    Close();
    errno = saved;
    Fail("cannot unlock the pseudo-terminal");
  }
  slavePath_ = path;
  slave_ = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (slave_ < 0) {
    const int saved = errno;
    Close();
    errno = saved;
    Fail("cannot open " + slavePath_);
  }
  // Raw from the start: with the default echo the tuner would read its own lines back, and the
  // CR and LF translations would change the bytes before the program has set its own mode.
  termios settings{};
  if (tcgetattr(slave_, &settings) == 0) {
    cfmakeraw(&settings);
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    settings.c_cflag |= CLOCAL | CREAD;
    tcsetattr(slave_, TCSANOW, &settings);
  }
}

TPseudoTerminal::~TPseudoTerminal() {
  Close();
}

void TPseudoTerminal::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t count = ::write(master_, bytes.data(), bytes.size());
    if (count > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(count));
    } else if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd writable{master_, POLLOUT, 0};
      ::poll(&writable, 1, 100);
    } else {
      Fail("cannot write to the pseudo-terminal");
    }
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

void TPseudoTerminal::ReleaseExclusive() {
  // A program that set TIOCEXCL and closed without TIOCNXCL leaves the flag on the terminal as
  // long as the pair lives; everyone but root would then get "busy" on the next open.
  if (slave_ >= 0) ioctl(slave_, TIOCNXCL);
}

void TPseudoTerminal::DiscardUnread() {
  if (slave_ >= 0) tcflush(slave_, TCIFLUSH);
}

bool TPseudoTerminal::SlaveReleased() const {
  pollfd hangup{master_, 0, 0};
  return ::poll(&hangup, 1, 0) > 0 && (hangup.revents & POLLHUP);
}

void TPseudoTerminal::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void TPseudoTerminal::CloseSlave() {
  if (slave_ >= 0) ::close(slave_);
  slave_ = -1;
}

void TPseudoTerminal::Close() {
  CloseSlave();
  CloseMaster();
}
