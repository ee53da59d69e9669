// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// An open serial device as the serial port object sees it, whatever the operating system:
// the line settings it is given and the few operations the object and its thread need.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serial/SerialPortException.h"

// How a modem control line is driven while the port is open.
enum class TLineControl : std::uint8_t { Lowered, Raised, Handshake };

// Everything the device is told by one application of the line settings.
struct TLineSettings {
  std::int32_t BitsPerSecond = 0;
  bool ParityCheck = false;
  bool OutxCtsFlow = false;
  bool OutxDsrFlow = false;
  TLineControl Dtr = TLineControl::Lowered;
  TLineControl Rts = TLineControl::Lowered;
  bool DsrSensitivity = false;
  bool TxContinueOnXoff = false;
  bool OutX = false;
  bool InX = false;
  bool ReplaceParityErrors = false;
  bool DiscardNulls = false;
  std::uint16_t XonLimit = 0;
  std::uint16_t XoffLimit = 0;
  std::uint8_t DataBits = 8;
  // 0 none, 1 odd, 2 even, 3 mark, 4 space.
  std::uint8_t ParityCode = 0;
  // 0 one, 1 one and a half, 2 two.
  std::uint8_t StopBitsCode = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
};

// Milliseconds; a write may take Multiplier x bytes + Constant.
struct TTimeouts {
  std::uint32_t ReadInterval = 0;
  std::uint32_t ReadTotalMultiplier = 0;
  std::uint32_t ReadTotalConstant = 0;
  std::uint32_t WriteTotalMultiplier = 0;
  std::uint32_t WriteTotalConstant = 0;
};

// Modem status bits as the receive thread reports them.
inline constexpr std::uint8_t ModemCts = 0x10;
inline constexpr std::uint8_t ModemDsr = 0x20;
inline constexpr std::uint8_t ModemRing = 0x40;
inline constexpr std::uint8_t ModemRlsd = 0x80;

// Why a device call failed: the kind, and the operator's reason ("No such file or directory").
struct TDeviceError {
  TSerialErrorKind Kind = TSerialErrorKind::None;
  std::string Message;
  TStationCertificate Certificate = {};
  TStationReport Station = {};
};

// The bytes a read or write moved, and why it stopped short (None when it did not).
struct TTransfer {
  std::size_t Count = 0;
  TSerialErrorKind Failure = TSerialErrorKind::None;
};

// How a receive thread may sleep until the device has something to show.
struct TDeviceReadiness {
  // The platform's descriptor that is readable while bytes wait and on a hang-up or error; -1
  // when the device cannot be waited on (the thread then looks every Delay).
  int Descriptor = -1;
  // A change of the modem lines makes it readable too; if not, the lines are asked for every
  // Delay while a handler listens for them.
  bool SignalsModemChanges = false;
  // It becomes readable when the device is lost, too (a network connection that ends), so the
  // device's presence rests on that and on its port directory entry alone.
  bool SignalsItsEnd = false;
};

// Text written to a network station that has not been heard from since: it may still reach
// the tuner if the station resumes.
struct TUnconfirmedWrite {
  std::string Text;
  std::chrono::system_clock::time_point SentAt;
};

// Writes may come from one thread while another queries and reads; Close comes last, once.
class TSerialDevice {
 public:
  virtual ~TSerialDevice() = default;
  // False with the reason when the device refuses the settings.
  virtual bool ApplyLineSettings(const TLineSettings& settings, TDeviceError& error) = 0;
  virtual void ApplyTimeouts(const TTimeouts& timeouts) = 0;
  virtual void ApplyBufferSizes(std::uint32_t input, std::uint32_t output) = 0;
  virtual void PurgeInput() = 0;
  // Clears the device's error state; the bytes waiting in the receive queue, none on failure.
  virtual std::optional<std::size_t> BytesWaiting() = 0;
  // Never waits for more than is already there.
  virtual TTransfer Read(char* buffer, std::size_t size) = 0;
  // Waits no longer than the write time-outs allow, nor than `longestWait`; fails at once
  // after AbortSerialWrites.
  virtual TTransfer Write(const char* data, std::size_t size,
                          std::chrono::milliseconds longestWait) = 0;
  // Modem* bits; none on failure.
  virtual std::optional<std::uint8_t> ModemStatus() = 0;
  // Discards both queues and releases the device without waiting for output to drain.
  virtual void Close() = 0;
  // The device is gone although it is still listed (a network connection that ended).
  virtual bool Lost() const { return false; }
  virtual TDeviceReadiness Readiness() const { return {}; }
  // The writes that the far end took but has not been heard from since, oldest first; none for
  // a device that takes nothing it cannot deliver at once.
  virtual std::vector<TUnconfirmedWrite> UnconfirmedWrites() const { return {}; }
  // Why the far end was lost, when it said so; Failure None otherwise.
  virtual TStationReport LossReport() const { return {}; }
  // When the far end was last heard from, and the connection's round trip; none for a device
  // with no far end of its own.
  virtual std::optional<std::chrono::system_clock::time_point> LastHeard() const { return {}; }
  virtual std::optional<std::chrono::microseconds> LastRoundTrip() const { return {}; }
};
