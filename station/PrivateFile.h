// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Files of the user's own that hold keys, trust and settings: read only from a folder that
// nobody else may change and never through a link; written whole under a new name and renamed
// into place, so that a link standing there is replaced rather than written through.
#pragma once

#include <sys/types.h>

#include <string>

// Opens `path` for reading without following a link or blocking: a regular file of this user's
// whose mode has none of the `forbidden` bits (022: others may not change it; 077: nor read
// it), in a folder that CheckPrivateFolder accepts. The descriptor, or -1: with an empty
// reason when the file or its folder is not there, else with the reason and how to mend it.
int OpenPrivateFile(const std::string& path, mode_t forbidden, std::string& reason);

// Whether the folder may hold private files: this user's own, not a link, and writable by
// nobody else. A missing folder passes (nothing is read from it). False with the reason and
// how to mend it.
bool CheckPrivateFolder(const std::string& folder, std::string& reason);

// Makes the folder (mode 700) and its parent when they are missing, and checks the folder as
// CheckPrivateFolder does.
bool MakePrivateFolder(const std::string& folder, std::string& reason);

// False with the reason ("Cannot write PATH: ...") when the file could not be written.
bool WritePrivateFile(const std::string& path, const std::string& text, mode_t mode,
                      std::string& reason);
// The same for a file that must be new: whatever stands at `path` (a file, a link, a link to
// nothing) is kept, even when it appeared after the caller looked.
bool WriteNewPrivateFile(const std::string& path, const std::string& text, mode_t mode,
                         std::string& reason);
