// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Whether a thread of this process slept on: the count of its voluntary context switches.
#pragma once

#include <sys/types.h>

// How often the thread has given up the processor of its own accord: one more at every sleep,
// so a thread that sleeps on does not add to it. -1 when it cannot be read.
long VoluntarySwitches(pid_t thread);
