// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Size limits of a control: minimum and maximum width and height, 0 meaning no limit.
#pragma once

struct TSizeConstraints {
  int MinWidth = 0;
  int MinHeight = 0;
  int MaxWidth = 0;
  int MaxHeight = 0;

  bool operator==(const TSizeConstraints&) const = default;
};
