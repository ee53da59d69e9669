// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A tuner behind a serial server on the network (ser2net and the like), reached over Telnet
// with RFC 2217 (optionally inside TLS) or over raw TCP: the network side of TSerialDevice.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "serial/SerialDevice.h"
#include "serial/SerialPlatform.h"
#include "serial/ThreadSafety.h"
#include "serial/WriteTimeouts.h"
#include "serial/posix/ReadySignal.h"
#include "station/LineNegotiation.h"
#include "station/NetworkAddress.h"
#include "station/StationSocket.h"
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
  bool WaitLost(std::chrono::steady_clock::time_point deadline) EXCLUDES(mutex_);
  // Readable while bytes wait, the connection is lost, or the modem lines changed since they
  // were last asked for (news from the station); -1 when the system gave no descriptor.
  TDeviceReadiness Readiness() const override { return {ready_.Descriptor(), true, true}; }
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
  // Ends the waits of this device's jobs: a loss, a cancel, the writes aborted.
  void Wake() EXCLUDES(mutex_);

  // Connecting and classifying.
  bool Connect(std::string& reason) EXCLUDES(mutex_);
  void OpenDone(int error) EXCLUDES(mutex_);
  void CloseDone() EXCLUDES(mutex_);
  void Freed() EXCLUDES(mutex_);
  // gensio 2.6.2 workaround (Telnet no-operations): see TStationSocket::SendTelnetNoOperations.
  void NudgeQuietStation();
  // gensio's own descriptor of the connection's socket; -1 when there is none yet.
  int GensioSocket() const;
  // Why an open failed or a connection ended while opening, from gensio's error and what was
  // seen of this connection: the kind and findings into facts_, the network layer's words
  // returned.
  std::string Classify(int error) EXCLUDES(mutex_);
  // The facts of the last failure.
  TStationReport Report() const REQUIRES(mutex_);
  bool ApplySettings(const TLineSettings& settings, std::string& reason) EXCLUDES(mutex_);

  // gensio's events, on the station loop.
  static int Event(gensio* io, void* data, int event, int error, unsigned char* buffer,
                   unsigned long* length, const char* const* auxdata);
  int HandleEvent(int event, int error, unsigned char* buffer, std::size_t* length)
      EXCLUDES(mutex_);
  // The byte pipe's part of them.
  void Received(const char* bytes, std::size_t length) EXCLUDES(mutex_);
  void MarkLost() EXCLUDES(mutex_);
  // Readable exactly while there is news for the receive thread.
  void UpdateReadiness() REQUIRES(mutex_);
  // Reading resumes once the inbox has room (`resumeAt` bytes or fewer).
  void ResumeReading(std::size_t resumeAt) REQUIRES(mutex_);

  struct TFreedNotice;

  const TNetworkAddress address_;
  const TCancelFlag cancelled_;
  const std::unique_ptr<TFreedNotice> freedNotice_;
  // Set while connecting, before the loop calls in; cleared by Close once gensio let go.
  TStationLoop* loop_ = nullptr;
  int wakeId_ = 0;
  gensio* io_ = nullptr;
  sergensio* serial_ = nullptr;

  // The liveness job and the line-setting job, each with its own lock.
  TStationWatch watch_;
  TLineNegotiation negotiation_;

  mutable TMutex mutex_;
  // Notified by gensio's events, the loss, Close's steps and Wake.
  std::condition_variable changed_;
  // Connecting and classifying: this connection's own facts.
  bool openDone_ GUARDED_BY(mutex_) = false;
  int openError_ GUARDED_BY(mutex_) = 0;
  bool closeDone_ GUARDED_BY(mutex_) = false;
  bool freed_ GUARDED_BY(mutex_) = false;
  std::string firstWords_ GUARDED_BY(mutex_);
  std::string peerSubject_ GUARDED_BY(mutex_);
  int certificateError_ GUARDED_BY(mutex_) = 0;
  // The certificate's chain held, but it names another host.
  bool wrongHost_ GUARDED_BY(mutex_) = false;
  // The TLS handshake reached the station's certificate.
  bool certificateShown_ GUARDED_BY(mutex_) = false;
  TDeviceError refusal_ GUARDED_BY(mutex_);
  // The kind and findings of the last failure told.
  TStationReport facts_ GUARDED_BY(mutex_);
  // The station said nothing in its first second and hung up at once when nudged.
  bool hungUpOnNudge_ GUARDED_BY(mutex_) = false;
  // Our own descriptor of the connection's socket once connected (keepalive set on it).
  TStationSocket socket_;
  // The byte pipe.
  std::string inbox_ GUARDED_BY(mutex_);
  bool readPaused_ GUARDED_BY(mutex_) = false;
  bool writeReady_ GUARDED_BY(mutex_) = false;
  bool modemChanged_ GUARDED_BY(mutex_) = false;
  std::atomic<std::uint8_t> modemLines_ = 0;
  TReadySignal ready_;
  TWriteTimeouts writeTimeouts_;
  // The port's input queue size; 0 (not given): no bound on one read.
  std::atomic<std::uint32_t> inputQueue_ = 0;
  std::atomic<bool> lost_ = false;
  // When the first write went out and when the connection was found lost.
  std::optional<std::chrono::steady_clock::time_point> firstWrite_ GUARDED_BY(mutex_);
  std::optional<std::chrono::steady_clock::time_point> lostAt_ GUARDED_BY(mutex_);
};
