// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Writing a file by replacing it: the new content goes to a new file beside the name, which is
// then renamed over it, so a link, a FIFO or a device under that name is never opened.
#pragma once

#include <string>
#include <string_view>

enum class TReplaceResult { Replaced, CannotCreate, CannotWrite };

// Whatever stood under `path` (a file, a symbolic link, a FIFO) is replaced by a regular file
// holding `bytes`; on failure nothing under `path` has changed and no new file is left behind.
TReplaceResult ReplaceFile(const std::string& path, std::string_view bytes);
