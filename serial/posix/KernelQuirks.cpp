// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Linux serial quirks. termios2 lives in the kernel's own headers, which clash with the C
// library's <termios.h>, so this file includes only the kernel's.
#include "serial/posix/KernelQuirks.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "serial/posix/RetryOnInterrupt.h"

namespace {

struct TSpeedCode {
  std::int32_t bitsPerSecond;
  unsigned code;
};

constexpr TSpeedCode SpeedCodes[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000}};

int IoctlRetrying(int fd, unsigned long request, void* argument) {
  return RetryOnInterrupt([&] { return ::ioctl(fd, request, argument); });
}

}  // namespace

bool LockExclusively(int fd) {
  if (RetryOnInterrupt([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) < 0) return false;
  // Refused by anything that is not a terminal; the lock above still holds.
  IoctlRetrying(fd, TIOCEXCL, nullptr);
  return true;
}

std::optional<int> ModemLines(int fd) {
  int lines = 0;
  if (IoctlRetrying(fd, TIOCMGET, &lines) < 0) return std::nullopt;
  return lines;
}

void SetModemLine(int fd, int line, bool raised) {
  IoctlRetrying(fd, raised ? TIOCMBIS : TIOCMBIC, &line);
}

unsigned SpeedCode(std::int32_t bitsPerSecond) {
  for (const TSpeedCode& entry : SpeedCodes) {
    if (entry.bitsPerSecond == bitsPerSecond) return entry.code;
  }
  return 0;
}

bool SetOtherSpeed(int fd, std::int32_t bitsPerSecond) {
  struct termios2 settings {};
  if (IoctlRetrying(fd, TCGETS2, &settings) < 0) return false;
  settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  settings.c_ispeed = static_cast<speed_t>(bitsPerSecond);
  settings.c_ospeed = static_cast<speed_t>(bitsPerSecond);
  return IoctlRetrying(fd, TCSETS2, &settings) == 0;
}

void CloseWithoutDraining(int fd) {
  RetryOnInterrupt([&] { return ::ioctl(fd, TCFLSH, TCIOFLUSH); });
  // A pseudo-terminal keeps the exclusive mode until the pair is gone, which would lock every
  // other program (and a later Orvel run by a user) out of a virtual port.
  IoctlRetrying(fd, TIOCNXCL, nullptr);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  // close() is not retried: the descriptor is gone even when it reports EINTR.
  ::close(fd);
}
