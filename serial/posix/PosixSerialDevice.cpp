// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// termios, ioctl and the descriptor of one open serial device.
#include "serial/posix/PosixSerialDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "serial/SerialPlatform.h"
#include "serial/Trace.h"
#include "serial/posix/DeviceError.h"
#include "serial/posix/KernelQuirks.h"
#include "serial/posix/RetryOnInterrupt.h"
#include "serial/posix/WriteAbort.h"

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

bool Refuse(int error, const std::string& path, TDeviceError& deviceError) {
  deviceError = DeviceError(error, path);
  ORVEL_TRACE(Serial, "settings refused: %s", deviceError.Message.c_str());
  return false;
}

// A failed read or write of an open device: the device went away unless errno says otherwise.
TSerialErrorKind TransferFailure(int error) {
  switch (error) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
      return TSerialErrorKind::Vanished;
    default:
      return ErrorKindOf(error);
  }
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
  // With five data bits a UART makes one and a half stop bits of CSTOPB.
  if (settings.StopBitsCode != 0) t.c_cflag |= CSTOPB;
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
                                                             TDeviceError& error) {
  const int fd = RetryOnInterrupt(
      [&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK); });
  if (fd < 0) {
    error = DeviceError(errno, path);
    ORVEL_TRACE(Serial, "open %s: %s", path.c_str(), error.Message.c_str());
    return nullptr;
  }
  if (!LockExclusively(fd)) {
    const int lockError = errno == EWOULDBLOCK ? EBUSY : errno;
    CloseWithoutDraining(fd);
    // Only after our own descriptor is gone, so that the holder found is the other one.
    error = DeviceError(lockError, path);
    ORVEL_TRACE(Serial, "open %s: %s", path.c_str(), error.Message.c_str());
    return nullptr;
  }
  ORVEL_TRACE(Serial, "open %s: descriptor %d", path.c_str(), fd);
  // The descriptor stays non-blocking: reads take only what waits, and writes wait in poll()
  // for as long as the write time-out allows.
  return std::make_unique<TPosixSerialDevice>(fd, path);
}

TPosixSerialDevice::TPosixSerialDevice(int fd, std::string path)
    : fd_(fd), path_(std::move(path)) {}

TPosixSerialDevice::~TPosixSerialDevice() {
  Close();
}

bool TPosixSerialDevice::ApplyLineSettings(const TLineSettings& settings, TDeviceError& error) {
  ORVEL_TRACE(Serial,
              "settings %d bps, %u data bits, parity %u, stop bits %u, RTS/CTS %d, "
              "XON/XOFF %d, DTR %d, RTS %d",
              settings.BitsPerSecond, settings.DataBits, settings.ParityCode, settings.StopBitsCode,
              settings.OutxCtsFlow, settings.OutX, static_cast<int>(settings.Dtr),
              static_cast<int>(settings.Rts));
  // One and a half stop bits exist only with five data bits, where a UART sends them for CSTOPB.
  if (settings.StopBitsCode > 2 || (settings.StopBitsCode == 1 && settings.DataBits != 5) ||
      settings.DataBits < 5 || settings.DataBits > 8 || settings.ParityCode > 4 ||
      settings.BitsPerSecond <= 0) {
    return Refuse(EINVAL, path_, error);
  }
  termios current{};
  if (RetryOnInterrupt([&] { return tcgetattr(fd_, &current); }) != 0)
    return Refuse(errno, path_, error);
  const unsigned code = SpeedCode(settings.BitsPerSecond);
  // A speed without a code is set afterwards; B38400 only stands in until then.
  const termios wanted = Termios(settings, code != 0 ? code : B38400);
  if (RetryOnInterrupt([&] { return tcsetattr(fd_, TCSANOW, &wanted); }) != 0)
    return Refuse(errno, path_, error);
  if (code == 0 && !SetOtherSpeed(fd_, settings.BitsPerSecond)) {
    return Refuse(errno, path_, error);
  }
  // tcsetattr succeeds when any part of the change was made, and many UART drivers drop mark
  // and space parity silently, which would garble every byte. Pseudo-terminals force 8 bits
  // without parity whatever is asked; for a virtual port that loses nothing.
  termios applied{};
  if (RetryOnInterrupt([&] { return tcgetattr(fd_, &applied); }) != 0)
    return Refuse(errno, path_, error);
  if ((wanted.c_cflag & CMSPAR) && (applied.c_cflag & PARENB) && !(applied.c_cflag & CMSPAR)) {
    tcsetattr(fd_, TCSANOW, &current);
    return Refuse(EINVAL, path_, error);
  }
  // Without a DTR handshake on Linux, a DTR given to the handshake is simply raised.
  SetModemLine(fd_, TIOCM_DTR, settings.Dtr != TLineControl::Lowered);
  if (settings.Rts != TLineControl::Handshake) {
    SetModemLine(fd_, TIOCM_RTS, settings.Rts == TLineControl::Raised);
  }
  return true;
}

void TPosixSerialDevice::ApplyTimeouts(const TTimeouts& timeouts) {
  writeTimeouts_.Apply(timeouts);
  ORVEL_TRACE(Serial, "write time-outs %u ms a byte + %u ms", timeouts.WriteTotalMultiplier,
              timeouts.WriteTotalConstant);
}

void TPosixSerialDevice::ApplyBufferSizes(std::uint32_t, std::uint32_t) {
  // Linux has no call for the driver's queue sizes.
}

void TPosixSerialDevice::PurgeInput() {
  ORVEL_TRACE(Serial, "purge input");
  RetryOnInterrupt([&] { return tcflush(fd_, TCIFLUSH); });
}

std::optional<std::size_t> TPosixSerialDevice::BytesWaiting() {
  int waiting = 0;
  if (RetryOnInterrupt([&] { return ::ioctl(fd_, FIONREAD, &waiting); }) < 0 || waiting < 0) {
    ORVEL_TRACE(Serial, "waiting: failed");
    return std::nullopt;
  }
  ORVEL_TRACE(Serial, "waiting %d", waiting);
  return static_cast<std::size_t>(waiting);
}

TTransfer TPosixSerialDevice::Read(char* buffer, std::size_t size) {
  const ssize_t count = RetryOnInterrupt([&] { return ::read(fd_, buffer, size); });
  ORVEL_TRACE(Serial, "read %zd of %zu", count, size);
  if (count > 0) return TTransfer{static_cast<std::size_t>(count)};
  // End of file on a terminal: it was hung up (the far end of a pseudo-terminal closed).
  if (count == 0)
    return TTransfer{0, size > 0 ? TSerialErrorKind::Vanished : TSerialErrorKind::None};
  // Nothing there after all: no failure.
  if (errno == EAGAIN) return TTransfer{};
  return TTransfer{0, TransferFailure(errno)};
}

TTransfer TPosixSerialDevice::Write(const char* data, std::size_t size,
                                    std::chrono::milliseconds longestWait) {
  const int abortFd = WriteAbortDescriptor();
  if (SerialWritesAborted()) return TTransfer{0, TSerialErrorKind::WriteAborted};
  const TClock::time_point deadline = writeTimeouts_.Deadline(size, longestWait);
  pollfd waiting[] = {{fd_, POLLOUT, 0}, {abortFd, POLLIN, 0}};
  const nfds_t watched = abortFd >= 0 ? 2 : 1;
  TTransfer result;
  while (result.Count < size) {
    const ssize_t count =
        RetryOnInterrupt([&] { return ::write(fd_, data + result.Count, size - result.Count); });
    if (count > 0) {
      result.Count += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno != EAGAIN) {
      result.Failure = TransferFailure(errno);
      break;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    if (left <= 0) {
      result.Failure = TSerialErrorKind::WriteTimedOut;
      break;
    }
    // An interrupted poll goes round again with the time that is left.
    const int ready =
        ::poll(waiting, watched, static_cast<int>(std::min<std::int64_t>(left, 1 << 30)));
    if (ready < 0 && errno != EINTR) {
      result.Failure = TransferFailure(errno);
      break;
    }
    if (SerialWritesAborted()) {
      result.Failure = TSerialErrorKind::WriteAborted;
      break;
    }
    if (ready > 0 && (waiting[0].revents & (POLLERR | POLLHUP | POLLNVAL))) {
      result.Failure = TSerialErrorKind::Vanished;
      break;
    }
  }
  ORVEL_TRACE(Serial, "write %zu of %zu", result.Count, size);
  return result;
}

std::optional<std::uint8_t> TPosixSerialDevice::ModemStatus() {
  if (noModemLines_) return std::nullopt;
  const std::optional<int> lines = ModemLines(fd_);
  if (lines) {
    ORVEL_TRACE(Serial, "modem lines%s%s%s%s", (*lines & TIOCM_CTS) ? " CTS" : "",
                (*lines & TIOCM_DSR) ? " DSR" : "", (*lines & TIOCM_RNG) ? " RING" : "",
                (*lines & TIOCM_CAR) ? " RLSD" : "");
  } else {
    ORVEL_TRACE(Serial, "modem lines: none");
  }
  if (!lines) {
    // A refusal of the request itself stays; any other failure (EIO of a device going away)
    // is asked about again.
    if (errno == ENOTTY || errno == EINVAL) noModemLines_ = true;
    return std::nullopt;
  }
  std::uint8_t status = 0;
  if (*lines & TIOCM_CTS) status |= ModemCts;
  if (*lines & TIOCM_DSR) status |= ModemDsr;
  if (*lines & TIOCM_RNG) status |= ModemRing;
  if (*lines & TIOCM_CAR) status |= ModemRlsd;
  return status;
}

bool TPosixSerialDevice::Lost() const {
  pollfd device{fd_, 0, 0};
  return fd_ >= 0 && RetryOnInterrupt([&] { return ::poll(&device, 1, 0); }) == 1 &&
         (device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void TPosixSerialDevice::Close() {
  if (fd_ < 0) return;
  ORVEL_TRACE(Serial, "close %d", fd_);
  CloseWithoutDraining(fd_);
  fd_ = -1;
}
