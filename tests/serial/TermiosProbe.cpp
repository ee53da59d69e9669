// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// termios2 gives the speed as a number whatever way it was set; its header clashes with
// <termios.h>, hence this file of its own.
#include "tests/serial/TermiosProbe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <stdexcept>

TProbedSettings ProbeSettings(int fd) {
  struct termios2 settings {};
  if (::ioctl(fd, TCGETS2, &settings) != 0) throw std::runtime_error("TCGETS2 failed");
  TProbedSettings probed;
  probed.cflag = settings.c_cflag;
  probed.iflag = settings.c_iflag;
  probed.outputSpeed = settings.c_ospeed;
  probed.startChar = settings.c_cc[VSTART];
  probed.stopChar = settings.c_cc[VSTOP];
  return probed;
}
