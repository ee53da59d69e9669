// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A tuner behind a serial server on the network (ser2net and the like), reached over Telnet
// with RFC 2217 (optionally inside TLS) or over raw TCP: the network side of TSerialDevice.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "serial/SerialDevice.h"
#include "serial/SerialPlatform.h"
#include "station/LineNegotiation.h"
#include "station/NetworkAddress.h"
#include "station/StationConnection.h"
#include "station/StationPipe.h"
#include "station/StationWatch.h"

struct gensio;
struct sergensio;
class TStationLoop;

class TNetworkSerialDevice final : public TSerialDevice {
 public:
  // How long Open waits for the station before it gives up.
  static constexpr std::chrono::seconds ConnectBound{5};
  // A station that sent nothing for this long is asked whether it is still there...
  static constexpr std::chrono::seconds QuietBound{3};
  // ...and is taken for lost when nothing arrives within this of the question.
  static constexpr std::chrono::seconds AnswerBound{3};
  // A write to a station not heard from for WriteAskSpan asks first, and waits no longer than
  // WriteAskBound for the answer before it gives up: what a hung station took would be carried
  // out whenever it resumes.
  static constexpr std::chrono::seconds WriteAskSpan{1};
  static constexpr std::chrono::seconds WriteAskBound{1};
  // A Telnet station that has said nothing by then is perhaps one that expects TLS.
  static constexpr std::chrono::seconds TlsHintBound{1};
  // A raw station that said nothing and hung up within this of the first write refused it as
  // a TLS station does.
  static constexpr std::chrono::seconds TlsRefusalBound{1};

  // Connects; null with the failure's kind and facts when that fails or when `cancelled`
  // was set meanwhile (then at once: NotifyOpenCancelled wakes the wait).
  static std::unique_ptr<TNetworkSerialDevice> Open(const std::string& address, TDeviceError& error,
                                                    const TCancelFlag& cancelled = nullptr);

  ~TNetworkSerialDevice() override;
  TNetworkSerialDevice(const TNetworkSerialDevice&) = delete;
  TNetworkSerialDevice& operator=(const TNetworkSerialDevice&) = delete;

  bool ApplyLineSettings(const TLineSettings& settings, TDeviceError& error) override;
  void ApplyTimeouts(const TTimeouts& timeouts) override;
  void ApplyBufferSizes(std::uint32_t input, std::uint32_t output) override;
  void PurgeInput() override;
  std::optional<std::size_t> BytesWaiting() override;
  TTransfer Read(char* buffer, std::size_t size) override;
  TTransfer Write(const char* data, std::size_t size,
                  std::chrono::milliseconds longestWait) override;
  std::optional<std::uint8_t> ModemStatus() override;
  void Close() override;
  // The connection is gone (station unplugged, server stopped, network down).
  bool Lost() const override { return lost_; }
  // For one who holds the connection without reading (its readiness then stays set): waits
  // until the connection is lost or `deadline` passes; whether it was lost.
  bool WaitLost(std::chrono::steady_clock::time_point deadline);
  // Readable while bytes wait, the connection is lost, or the modem lines changed since they
  // were last asked for (news from the station); -1 when the system gave no descriptor.
  TDeviceReadiness Readiness() const override { return {pipe_.Descriptor(), true, true}; }
  std::vector<TUnconfirmedWrite> UnconfirmedWrites() const override;
  // ExpectsTls when a raw connection ended as a TLS station ends one (RefusedAsTls).
  TStationReport LossReport() const override;
  std::optional<std::chrono::system_clock::time_point> LastHeard() const override;
  std::optional<std::chrono::microseconds> LastRoundTrip() const override;

  // Whether a raw connection was ended by a station that speaks TLS: its first words (none
  // at all, or a TLS record), and the time from the first write to the hang-up (none: nothing
  // was written).
  static bool RefusedAsTls(std::string_view firstWords,
                           std::optional<std::chrono::steady_clock::duration> writeToLoss);

 private:
  TNetworkSerialDevice(TNetworkAddress address, TCancelFlag cancelled);
  // A station refused for its certificate leaves the kind and the certificate in `refusal`.
  static std::unique_ptr<TNetworkSerialDevice> OpenWithReason(const std::string& address,
                                                              const TCancelFlag& cancelled,
                                                              std::string& reason,
                                                              TDeviceError& refusal);
  // The open is no longer wanted, or the program ends.
  bool Cancelled() const;
  bool Connect(std::string& reason);
  bool ApplySettings(const TLineSettings& settings, std::string& reason);
  // gensio's events, on the station loop, handed to the job each concerns.
  static int Event(gensio* io, void* data, int event, int error, unsigned char* buffer,
                   unsigned long* length, const char* const* auxdata);
  int HandleEvent(int event, int error, unsigned char* buffer, std::size_t* length);
  void MarkLost();
  // Ends every wait of the jobs: a loss, a cancel, the writes aborted.
  void Wake();

  const TNetworkAddress address_;
  const TCancelFlag cancelled_;
  // The connection's end, which every job reads.
  std::atomic<bool> lost_ = false;
  // Set while connecting, before the loop calls in; let go by Close.
  TStationLoop* loop_ = nullptr;
  int wakeId_ = 0;
  // The four jobs, each with its own state and lock.
  TStationConnection connection_;
  TStationPipe pipe_;
  TStationWatch watch_;
  TLineNegotiation negotiation_;
};
