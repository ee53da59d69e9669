// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// A tuner behind a serial server on the network (ser2net and the like), reached over Telnet
// with RFC 2217 (optionally inside TLS) or over raw TCP: the network side of TSerialDevice.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "NetworkAddress.h"
#include "ReadySignal.h"
#include "SerialDevice.h"

struct gensio;
struct gensio_os_funcs;
struct gensio_waiter;
struct sergensio;

class TNetworkSerialDevice final : public TSerialDevice {
 public:
  // How long Open waits for the station before it gives up.
  static constexpr std::chrono::seconds ConnectBound{5};

  // Connects; null with the reason ("Connection refused") when that fails.
  static std::unique_ptr<TNetworkSerialDevice> Open(const std::string& address,
                                                    TDeviceError& error);

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
  // Modem line changes come as news from the station, which raise the readiness below.
  bool SignalsModemChanges() const override { return true; }
  // Readable while bytes wait, the connection is lost, or the modem lines changed since they
  // were last asked for; -1 when the system gave no descriptor.
  int ReadinessDescriptor() const { return ready_.Descriptor(); }

  // One answer of the station to a line-setting request.
  struct TReply {
    TNetworkSerialDevice* device = nullptr;
    bool done = false;
    int error = 0;
    unsigned value = 0;
  };

  // Called by gensio on the event thread.
  int HandleEvent(int event, int error, unsigned char* buffer, std::size_t* length,
                  const char* const* auxdata);
  void Answer(TReply& reply, int error, unsigned value);

 private:
  explicit TNetworkSerialDevice(TNetworkAddress address);
  static std::unique_ptr<TNetworkSerialDevice> OpenWithReason(const std::string& address,
                                                              std::string& reason);
  bool ApplySettings(const TLineSettings& settings, std::string& reason);
  bool Connect(std::string& reason);
  void RunLoop();
  void OpenDone(int error);
  void CloseDone();
  void Freed();
  void MarkLost();
  // With mutex_ held: readable exactly while there is news for the receive thread.
  void UpdateReadiness();
  // The operator's reason for a failed open or a connection that ended while opening.
  std::string FailureReason(int error) const;
  TReply* Request();
  // Waits until every reply is in or the deadline passes; false on a lost connection.
  bool WaitForReplies(std::initializer_list<TReply*> replies,
                      std::chrono::steady_clock::time_point deadline);
  void KeepAlive();

  struct TFreedNotice;

  const TNetworkAddress address_;
  const std::unique_ptr<TFreedNotice> freedNotice_;
  gensio_os_funcs* os_ = nullptr;
  gensio_waiter* stopWaiter_ = nullptr;
  gensio* io_ = nullptr;
  sergensio* serial_ = nullptr;
  std::thread loop_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool openDone_ = false;
  int openError_ = 0;
  bool closeDone_ = false;
  bool freed_ = false;
  // Our own descriptor of the connection's socket once connected; -1 before and after.
  int socket_ = -1;
  std::string inbox_;
  bool readPaused_ = false;
  bool writeReady_ = false;
  std::string firstWords_;
  std::string peerSubject_;
  int certificateError_ = 0;
  // A list: gensio keeps a pointer to each request's reply until it answers.
  std::list<TReply> replies_;
  bool modemChanged_ = false;
  bool modemMaskAsked_ = false;
  TReadySignal ready_;

  std::atomic<bool> lost_ = false;
  std::atomic<std::uint8_t> modemLines_ = 0;
  std::atomic<std::uint32_t> writeMultiplier_ = 0;
  std::atomic<std::uint32_t> writeConstant_ = 0;
  // The port's input queue size; 0 (not given): no bound on one read.
  std::atomic<std::uint32_t> inputQueue_ = 0;
};
