// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A tuner behind a serial server on the network (ser2net and the like), reached over Telnet
// with RFC 2217 (optionally inside TLS) or over raw TCP: the network side of TSerialDevice.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "serial/SerialDevice.h"
#include "serial/SerialPlatform.h"
#include "serial/WriteTimeouts.h"
#include "serial/posix/ReadySignal.h"
#include "station/LineRequests.h"
#include "station/NetworkAddress.h"
#include "station/StationLiveness.h"
#include "station/StationSocket.h"

struct gensio;
struct gensio_os_funcs;
struct gensio_waiter;
struct sergensio;

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
  // was set meanwhile (then within a twentieth of a second).
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

  // Called by gensio on the event thread.
  int HandleEvent(int event, int error, unsigned char* buffer, std::size_t* length,
                  const char* const* auxdata);
  void Answer(TLineRequests::TReply& reply, int error, unsigned value);

 private:
  TNetworkSerialDevice(TNetworkAddress address, TCancelFlag cancelled);
  // A station refused for its certificate leaves the kind and the certificate in `refusal`.
  static std::unique_ptr<TNetworkSerialDevice> OpenWithReason(const std::string& address,
                                                              const TCancelFlag& cancelled,
                                                              std::string& reason,
                                                              TDeviceError& refusal);
  bool Cancelled() const;
  // Waits with mutex_ held (in `lock`) until `done` holds, the deadline passes or the open is
  // cancelled; whether `done` holds.
  bool WaitUntil(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point deadline,
                 const std::function<bool()>& done);
  bool ApplySettings(const TLineSettings& settings, std::string& reason);
  // Sends one line-setting request, mutex_ let go (gensio's event thread takes it while it
  // holds gensio's own locks).
  int Ask(TLineRequests::TSetting setting, unsigned value, TLineRequests::TReply& reply);
  bool Connect(std::string& reason);
  void RunLoop();
  void OpenDone(int error);
  void CloseDone();
  void Freed();
  void MarkLost();
  // With mutex_ held: readable exactly while there is news for the receive thread.
  void UpdateReadiness();
  // Why an open failed or a connection ended while opening, from gensio's error and what was
  // seen of the station: the kind and findings into facts_, the network layer's words returned.
  // Takes mutex_.
  std::string Classify(int error);
  // With mutex_ held: the facts of the last failure.
  TStationReport Report() const;
  void NudgeQuietStation();
  // gensio's own descriptor of the connection's socket; -1 when there is none yet.
  int GensioSocket() const;
  // With mutex_ held: the bytes the connection has received so far, as the kernel counts them
  // on our descriptor of the socket (gensio's own events when there is none).
  std::uint64_t ReceivedCount() const;
  // With mutex_ held: tells the liveness rule what arrived by now.
  void Heard();
  // With mutex_ held (in `lock`): asks the station unless a question is out already; `why`
  // goes to the trace.
  void Ask(std::unique_lock<std::mutex>& lock, const char* why);
  // Whether the station was heard within WriteAskSpan or answers a question within `bound`;
  // a station that does not is lost. Over raw TCP there is nothing to ask.
  bool ProveAlive(std::chrono::steady_clock::duration bound);
  // The watch thread: asks whenever the station has been quiet for QuietBound.
  void WatchLiveness();

  struct TFreedNotice;

  const TNetworkAddress address_;
  const TCancelFlag cancelled_;
  const std::unique_ptr<TFreedNotice> freedNotice_;
  gensio_os_funcs* os_ = nullptr;
  gensio_waiter* stopWaiter_ = nullptr;
  gensio* io_ = nullptr;
  sergensio* serial_ = nullptr;
  std::thread loop_;
  std::thread watch_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool openDone_ = false;
  int openError_ = 0;
  bool closeDone_ = false;
  bool closing_ = false;
  TStationLiveness liveness_{{QuietBound, AnswerBound}};
  // Whether ReceivedCount reads the kernel's count (decided once, when connected).
  bool countsSocket_ = false;
  // Bytes and answers that gensio handed in: the count when the socket gives none.
  std::uint64_t heardEvents_ = 0;
  bool freed_ = false;
  // Our own descriptor of the connection's socket once connected (keepalive set on it).
  TStationSocket socket_;
  std::string inbox_;
  bool readPaused_ = false;
  bool writeReady_ = false;
  std::string firstWords_;
  std::string peerSubject_;
  int certificateError_ = 0;
  TDeviceError refusal_;
  // The kind and findings of the last failure told (under mutex_).
  TStationReport facts_;
  // The certificate's chain held, but it names another host.
  bool wrongHost_ = false;
  // The TLS handshake reached the station's certificate.
  bool certificateShown_ = false;
  // The station said nothing in the first second and was nudged (connecting thread only).
  std::atomic<bool> quietStation_ = false;
  TLineRequests requests_;
  bool modemChanged_ = false;
  bool modemMaskAsked_ = false;
  TReadySignal ready_;

  std::atomic<bool> lost_ = false;
  // When the first write went out and when the connection was found lost (under mutex_).
  std::optional<std::chrono::steady_clock::time_point> firstWrite_;
  std::optional<std::chrono::steady_clock::time_point> lostAt_;
  std::atomic<std::uint8_t> modemLines_ = 0;
  TWriteTimeouts writeTimeouts_;
  // The port's input queue size; 0 (not given): no bound on one read.
  std::atomic<std::uint32_t> inputQueue_ = 0;
};
