// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The stop of all writes (AbortSerialWrites) as a descriptor that a waiting write polls, so
// that a signal handler can cut every wait short.
#pragma once

// An eventfd that becomes readable, for good, once writes are aborted; -1 when the system has
// none to give (writes then notice the abort when their wait ends).
int WriteAbortDescriptor();
