// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The one place that writes entries of the port directory: the stations the operator adds and
// renames. Entries the operator made by hand are never written over.
#pragma once

#include <string>

// Whether a new entry of the port directory may be named `name` (`renamed`: the file name of
// the entry that is to take it). It may not when any entry has that name as the port list
// reads names (letter case and blanks at the ends ignored), whatever it is (a link, one to a
// device not plugged in, a note, a folder), nor when the port list gives a device that name.
// False with a sentence that names what is in the way.
bool PortNameFree(const std::string& name, const std::string& renamed, std::string& reason);

// Writes the entry that lists a network port under `name` in the port directory (a regular file
// holding the address, then `note` on its second line), making the directory when it is
// missing. Only where PortNameFree allows, never over anything. False with the reason.
bool WriteNetworkPortEntry(const std::string& name, const std::string& address,
                           const std::string& note, std::string& reason);
// Gives the entry `fileName` the name `newName`, as PortNameFree allows and never over anything.
bool RenamePortEntry(const std::string& fileName, const std::string& newName, std::string& reason);
