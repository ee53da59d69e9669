// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A descriptor that poll() finds readable while a condition holds: how a device whose news come
// on a thread of its own (a network connection) wakes a receive thread that waits in poll().
#pragma once

class TReadySignal {
 public:
  TReadySignal();
  ~TReadySignal();
  TReadySignal(const TReadySignal&) = delete;
  TReadySignal& operator=(const TReadySignal&) = delete;

  // -1 when the system gave none; Set does nothing then.
  int Descriptor() const { return descriptor_; }
  // Readable from now on, or no longer. Not for two threads at once.
  void Set(bool ready);

 private:
  const int descriptor_;
  bool ready_ = false;
};
