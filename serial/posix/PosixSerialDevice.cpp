// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// termios, ioctl and the descriptor of one open serial device.
#include "PosixSerialDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "KernelQuirks.h"
#include "SystemMessage.h"

namespace {

using TClock = std::chrono::steady_clock;

tcflag_t DataBitsFlag(std::uint8_t dataBits) {
  switch (dataBits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

tcflag_t ParityFlags(std::uint8_t parityCode) {
  switch (parityCode) {
    case 1:
      return PARENB | PARODD;
    case 2:
      return PARENB;
    case 3:
      return PARENB | CMSPAR | PARODD;
    case 4:
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

bool Refuse(int error, const std::string& path, std::string& reason) {
  reason = SystemMessage(error, path);
  return false;
}

}  // namespace

// Linux has nothing for the DSR handshake, DSR sensitivity, NUL discarding, the XON and XOFF
// limits, continuing after its own XOFF and the event and end-of-data characters: those
// settings are accepted and have no effect. A parity error reads as NUL when replacement is
// asked for (the only replacement the line discipline knows) and the byte is dropped
// otherwise.
termios TPosixSerialDevice::Termios(const TLineSettings& settings, unsigned speedCode) {
  termios t{};
  t.c_cflag =
      CREAD | CLOCAL | HUPCL | DataBitsFlag(settings.DataBits) | ParityFlags(settings.ParityCode);
  if (settings.StopBitsCode == 2) t.c_cflag |= CSTOPB;
  if (settings.OutxCtsFlow) t.c_cflag |= CRTSCTS;
  if (settings.ParityCheck) {
    t.c_iflag |= INPCK;
    if (!settings.ReplaceParityErrors) t.c_iflag |= IGNPAR;
  }
  if (settings.OutX) t.c_iflag |= IXON;
  if (settings.InX) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(settings.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(settings.XoffChar);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, speedCode);
  cfsetospeed(&t, speedCode);
  return t;
}

std::unique_ptr<TPosixSerialDevice> TPosixSerialDevice::Open(const std::string& path,
                                                             std::string& reason) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    reason = SystemMessage(errno, path);
    return nullptr;
  }
  if (!LockExclusively(fd)) {
    const int error = errno == EWOULDBLOCK ? EBUSY : errno;
    CloseWithoutDraining(fd);
    // Only after our own descriptor is gone, so that the holder found is the other one.
    reason = SystemMessage(error, path);
    return nullptr;
  }
  // The descriptor stays non-blocking: reads take only what waits, and writes wait in poll()
  // for as long as the write time-out allows.
  return std::make_unique<TPosixSerialDevice>(fd, path);
}

TPosixSerialDevice::TPosixSerialDevice(int fd, std::string path)
    : fd_(fd), path_(std::move(path)) {}

TPosixSerialDevice::~TPosixSerialDevice() {
  Close();
}

bool TPosixSerialDevice::ApplyLineSettings(const TLineSettings& settings, std::string& reason) {
  // One and a half stop bits: Linux has no way to ask for them.
  if (settings.StopBitsCode > 2 || settings.StopBitsCode == 1 || settings.DataBits < 5 ||
      settings.DataBits > 8 || settings.ParityCode > 4 || settings.BitsPerSecond <= 0) {
    return Refuse(EINVAL, path_, reason);
  }
  termios current{};
  if (tcgetattr(fd_, &current) != 0) return Refuse(errno, path_, reason);
  const unsigned code = SpeedCode(settings.BitsPerSecond);
  // A speed without a code is set afterwards; B38400 only stands in until then.
  const termios wanted = Termios(settings, code != 0 ? code : B38400);
  int result;
  do {
    result = tcsetattr(fd_, TCSANOW, &wanted);
  } while (result < 0 && errno == EINTR);
  if (result != 0) return Refuse(errno, path_, reason);
  if (code == 0 && !SetOtherSpeed(fd_, settings.BitsPerSecond)) {
    return Refuse(errno, path_, reason);
  }
  // tcsetattr succeeds when any part of the change was made, and many UART drivers drop mark
  // and space parity silently, which would garble every byte. Pseudo-terminals force 8 bits
  // without parity whatever is asked; for a virtual port that loses nothing.
  termios applied{};
  if (tcgetattr(fd_, &applied) != 0) return Refuse(errno, path_, reason);
  if ((wanted.c_cflag & CMSPAR) && (applied.c_cflag & PARENB) && !(applied.c_cflag & CMSPAR)) {
    tcsetattr(fd_, TCSANOW, &current);
    return Refuse(EINVAL, path_, reason);
  }
  // Without a DTR handshake on Linux, a DTR given to the handshake is simply raised.
  SetModemLine(fd_, TIOCM_DTR, settings.Dtr != TLineControl::Lowered);
  if (settings.Rts != TLineControl::Handshake) {
    SetModemLine(fd_, TIOCM_RTS, settings.Rts == TLineControl::Raised);
  }
  return true;
}

void TPosixSerialDevice::ApplyTimeouts(const TTimeouts& timeouts) {
  writeMultiplier_ = timeouts.WriteTotalMultiplier;
  writeConstant_ = timeouts.WriteTotalConstant;
}

void TPosixSerialDevice::ApplyBufferSizes(std::uint32_t, std::uint32_t) {
  // Linux has no call for the driver's queue sizes.
}

void TPosixSerialDevice::PurgeInput() {
  tcflush(fd_, TCIFLUSH);
}

std::optional<std::size_t> TPosixSerialDevice::BytesWaiting() {
  int waiting = 0;
  if (::ioctl(fd_, FIONREAD, &waiting) < 0 || waiting < 0) return std::nullopt;
  return static_cast<std::size_t>(waiting);
}

std::size_t TPosixSerialDevice::Read(char* buffer, std::size_t size) {
  ssize_t count;
  do {
    count = ::read(fd_, buffer, size);
  } while (count < 0 && errno == EINTR);
  return count > 0 ? static_cast<std::size_t>(count) : 0;
}

std::size_t TPosixSerialDevice::Write(const char* data, std::size_t size) {
  const auto allowed = std::chrono::milliseconds(static_cast<std::int64_t>(writeMultiplier_) *
                                                     static_cast<std::int64_t>(size) +
                                                 writeConstant_);
  const TClock::time_point deadline = TClock::now() + allowed;
  std::size_t written = 0;
  while (written < size) {
    const ssize_t count = ::write(fd_, data + written, size - written);
    if (count > 0) {
      written += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno != EAGAIN) break;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    if (left <= 0) break;
    pollfd waiting{fd_, POLLOUT, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(std::min<std::int64_t>(left, 1 << 30)));
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (waiting.revents & (POLLERR | POLLHUP | POLLNVAL))) break;
  }
  return written;
}

std::optional<std::uint8_t> TPosixSerialDevice::ModemStatus() {
  const std::optional<int> lines = ModemLines(fd_);
  if (!lines) return std::nullopt;
  std::uint8_t status = 0;
  if (*lines & TIOCM_CTS) status |= ModemCts;
  if (*lines & TIOCM_DSR) status |= ModemDsr;
  if (*lines & TIOCM_RNG) status |= ModemRing;
  if (*lines & TIOCM_CAR) status |= ModemRlsd;
  return status;
}

void TPosixSerialDevice::Close() {
  if (fd_ < 0) return;
  CloseWithoutDraining(fd_);
  fd_ = -1;
}
