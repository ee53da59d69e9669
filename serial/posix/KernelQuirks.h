// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Linux behaviour that a serial device layer has to work around, kept in one place:
// root ignores TIOCEXCL, pseudo-terminals refuse the modem-line ioctls, the classic termios
// calls know only a fixed set of speeds, and a device that will not drain can hold close().
#pragma once

#include <cstdint>
#include <optional>

// Exclusive use for this open file: a non-blocking flock (which also holds against root and
// against a second Orvel) and TIOCEXCL for other programs. False with errno set when another
// open file holds the lock.
bool LockExclusively(int fd);

// TIOCM_* bits of the modem lines; none when the device refuses the query (pseudo-terminals).
std::optional<int> ModemLines(int fd);

// Raises or lowers one TIOCM_* output line; a device without modem lines ignores it.
void SetModemLine(int fd, int line, bool raised);

// The Bxxx code of a speed that the classic termios calls know, 0 for any other speed.
unsigned SpeedCode(std::int32_t bitsPerSecond);

// Sets a speed that has no Bxxx code (termios2 with BOTHER); false with errno on refusal.
bool SetOtherSpeed(int fd, std::int32_t bitsPerSecond);

// Discards both queues and closes without waiting for output to drain.
void CloseWithoutDraining(int fd);
