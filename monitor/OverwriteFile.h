// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Writing a file in place: an existing regular file is truncated and written, keeping its
// permissions, owner and links; anything else under the name is left alone.
#pragma once

#include <string>
#include <string_view>

enum class TOverwriteResult { Written, CannotCreate, CannotWrite };

// Creates `path` or truncates the regular file there, and writes `bytes` into it. A symbolic
// link (dangling or not), a FIFO, a device or a directory under `path`, and a file that may
// not be written, give CannotCreate untouched; CannotWrite is a write that failed part way
// (a full disk), which leaves the file holding what did get written. Allocates nothing, so
// that a child process may call it right after fork.
TOverwriteResult OverwriteFile(const std::string& path, std::string_view bytes);
