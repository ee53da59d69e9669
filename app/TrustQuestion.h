// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The trust question, as the window's own open and Add Station both put it: asked once the event
// that brought the station's refusal has ended, so that the station is not kept waiting on an
// operator who reads a fingerprint; on Yes the certificate is pinned before anything reaches the
// station again.
#pragma once

#include <functional>
#include <string>

#include "serial/SerialPortException.h"

class TTrustQuestion {
 public:
  // Runs the question after the present event.
  std::function<void(std::function<void()>)> Later;
  // Shows the question; true for Yes.
  std::function<bool(const ESerialPortException& refusal)> Ask;
  // Whether the question still stands, before it is shown and once it is answered: a port closed
  // or faulted meanwhile makes the answer come too late. Unset: it always stands.
  std::function<bool()> StillAsked;
  // The question was answered and the answer still counts (before any of the three below).
  std::function<void()> Answered;
  std::function<void()> Declined;
  std::function<void(const std::string& reason)> NotPinned;
  // The certificate is pinned: the station may be reached again.
  std::function<void()> Pinned;

  // Puts the question about the certificate `refusal` showed; the hooks run inside the error
  // display's user action, so one that throws shows its error.
  void Put(const ESerialPortException& refusal) const;
};
