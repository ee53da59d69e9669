// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// gensio's one OS handler of the process, shared by the network ports and the station browser.
#pragma once

#include <string>

struct gensio_os_funcs;

class TGensioOs {
 public:
  // Made at the first call; null with the reason when the network layer cannot start.
  static gensio_os_funcs* Get(std::string& reason);
};
