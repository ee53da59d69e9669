// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A failed call on a serial device as the layers above see it: the kind of failure and the
// operator's reason, from the errno that the system gave.
#pragma once

#include <string>

#include "serial/SerialDevice.h"

TSerialErrorKind ErrorKindOf(int error);

// The kind and SystemMessage's text for `error` on the device at `devicePath`.
TDeviceError DeviceError(int error, const std::string& devicePath);
