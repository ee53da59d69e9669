// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Pseudo-terminal pair in raw mode at the tuner's line settings.
#include "PseudoTerminal.h"

#include <fcntl.h>
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

PseudoTerminal::PseudoTerminal() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master_ < 0) Fail("cannot open a pseudo-terminal");
  char path[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, path, sizeof path)) {
    int saved = errno;
    Close();
    errno = saved;
    Fail("cannot unlock the pseudo-terminal");
  }
  slave_path_ = path;
  slave_ = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (slave_ < 0) {
    int saved = errno;
    Close();
    errno = saved;
    Fail("cannot open " + slave_path_);
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

PseudoTerminal::~PseudoTerminal() {
  Close();
}

void PseudoTerminal::ReleaseExclusive() {
  // A program that set TIOCEXCL and closed without TIOCNXCL leaves the flag on the terminal as
  // long as the pair lives; everyone but root would then get "busy" on the next open.
  if (slave_ >= 0) ioctl(slave_, TIOCNXCL);
}

void PseudoTerminal::DiscardUnread() {
  if (slave_ >= 0) tcflush(slave_, TCIFLUSH);
}

void PseudoTerminal::Close() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = -1;
  master_ = -1;
}
