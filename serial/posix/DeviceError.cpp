// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// errno to the serial layer's error kinds.
#include "serial/posix/DeviceError.h"

#include <cerrno>

#include "serial/posix/SystemMessage.h"

TSerialErrorKind ErrorKindOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
      return TSerialErrorKind::NotFound;
    case EBUSY:
      return TSerialErrorKind::Busy;
    case EACCES:
    case EPERM:
    case EROFS:
      return TSerialErrorKind::Permission;
    case EINVAL:
    case ENOTTY:
    case EOPNOTSUPP:
      return TSerialErrorKind::RefusedSetting;
    case EIO:
    case EPIPE:
      return TSerialErrorKind::Vanished;
    case EAGAIN:
    case ENOMEM:
    case EMFILE:
    case ENFILE:
      return TSerialErrorKind::OutOfResources;
    default:
      return TSerialErrorKind::Other;
  }
}

TDeviceError DeviceError(int error, const std::string& devicePath) {
  return TDeviceError{ErrorKindOf(error), SystemMessage(error, devicePath)};
}
