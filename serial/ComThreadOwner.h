// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// What the receive thread asks of the port that started it: the settings it reads on every
// pass and the few things it hands back. Nothing else of the port is within its reach.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "serial/SerialPlatform.h"

class TComThreadOwner {
 public:
  // Milliseconds between two passes, read anew on every pass.
  virtual std::uint32_t PassDelay() const = 0;
  // False: waiting bytes are announced and left in the device's queue.
  virtual bool ReadsChunks() const = 0;
  // Whether idle passes test the port's presence (Delay is not short). Only then may the thread
  // sleep between passes until something happens.
  virtual bool ChecksPresence() const = 0;
  // The port list entry that the open port came from, as the presence test last found it; none
  // for a port that is not listed.
  virtual std::optional<TListedPort> PresenceEntry() const = 0;

  // Brackets reading a chunk (the port's Receiving flag).
  virtual void SetReceiving(bool receiving) = 0;
  // A chunk that was read: kept, delivered, logged. May throw (a raising handler, the log).
  virtual void DeliverChunk(const std::string& chunk) = 0;
  // The announce mode's pass: `count` bytes wait in the device's queue.
  virtual void AnnounceWaiting(std::size_t count) = 0;
  // The modem lines as just read (Modem* bits, none when the query failed); delivered when
  // they changed.
  virtual void ReportLineStatus(std::optional<std::uint8_t> modemStatus) = 0;
  // The presence test: may declare the port faulted and close it.
  virtual void CheckPresence() = 0;
  // The ending sequence's part before the device closes: OnDisconnect, while the connection
  // of that generation is still the port's.
  virtual void AnnounceDisconnect(std::uint64_t generation) = 0;
  // The ending sequence is done: ConnectedPort is reset unless a newer connection began.
  virtual void EndConnection(std::uint64_t generation) = 0;

 protected:
  virtual ~TComThreadOwner() = default;
};
