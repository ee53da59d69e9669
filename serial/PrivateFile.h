// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Files of the user's own that hold keys and trust: written whole under a new name and renamed
// into place, so that a link standing there is replaced rather than written through.
#pragma once

#include <sys/types.h>

#include <string>

// False with the reason ("Cannot write PATH: ...") when the file could not be written.
bool WritePrivateFile(const std::string& path, const std::string& text, mode_t mode,
                      std::string& reason);

// Makes the folder (mode 700) and its parent when they are missing.
bool MakePrivateFolder(const std::string& folder, std::string& reason);
