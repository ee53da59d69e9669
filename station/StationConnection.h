// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Connecting to a station and telling why that failed: gensio's connection from its open to its
// free, our own descriptor of its socket, and this connection's own facts (gensio's error for
// it, its certificate, its first words, the nudge, the kernel's count), classified by
// TConnectFailure.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <optional>
#include <string>

#include "serial/SerialDevice.h"
#include "serial/SerialPlatform.h"
#include "serial/ThreadSafety.h"
#include "station/NetworkAddress.h"
#include "station/StationSocket.h"

struct gensio;
struct gensio_os_funcs;
struct sergensio;

class TStationConnection {
 public:
  using TClock = std::chrono::steady_clock;
  // gensio's event callback, handed the device.
  using TEventHandler = int (*)(gensio*, void*, int, int, unsigned char*, unsigned long*,
                                const char* const*);
  struct TBounds {
    // How long the open waits for the station...
    TClock::duration Connect;
    // ...when a Telnet station that has said nothing by this is nudged (perhaps it expects TLS)...
    TClock::duration TlsHint;
    // ...and how soon a raw station that is busy hangs up.
    TClock::duration Busy;
  };

  // `lost` is the connection's end; `cancelled` whether the open is still wanted.
  TStationConnection(const TNetworkAddress& address, TBounds bounds, const std::atomic<bool>& lost,
                     std::function<bool()> cancelled);
  ~TStationConnection();
  TStationConnection(const TStationConnection&) = delete;
  TStationConnection& operator=(const TStationConnection&) = delete;

  // Opens the connection on `os` with gensio's events going to `handler` (with `data`); the
  // network layer's words when it fails, the kind and findings kept for Report.
  bool Open(gensio_os_funcs* os, TEventHandler handler, void* data, std::string& reason)
      EXCLUDES(mutex_);
  // Waits until gensio let go: no event comes after. Once.
  void Close() EXCLUDES(mutex_);
  gensio* Io() const { return io_; }
  // Null over raw TCP.
  sergensio* Serial() const { return serial_; }
  const TStationSocket& Socket() const { return socket_; }

  // On the loop: what the station said first, and its certificate.
  void NoteWords(const char* bytes, std::size_t length) EXCLUDES(mutex_);
  // GENSIO_EVENT_PRECERT_VERIFY and POSTCERT_VERIFY: what gensio is to be answered.
  int CertificateShown() EXCLUDES(mutex_);
  int CertificateChecked(int error) EXCLUDES(mutex_);
  // The connection is lost: its close resets it, and waits for no farewell.
  void Lost() EXCLUDES(mutex_);
  void Wake() EXCLUDES(mutex_);
  // Until the connection is found lost or `deadline` passes; whether it was lost.
  bool WaitLost(TClock::time_point deadline) EXCLUDES(mutex_);

  // Why the open failed or the connection ended while opening: the kind and findings kept,
  // the network layer's words returned.
  std::string Classify(int error) EXCLUDES(mutex_);
  // A failure told by another job (a setting refused, requests unanswered).
  void Fail(TStationFailure failure, std::string setting = {}, std::string value = {})
      EXCLUDES(mutex_);
  // A busy station's words, which may come while its hang-up is still on the way; empty when
  // it said nothing of the sort.
  std::string InUseWords() const EXCLUDES(mutex_);
  // The facts of the last failure, and the refusal of the station's certificate.
  TDeviceError Refusal() const EXCLUDES(mutex_);
  // What the station said first (up to 256 bytes), and when the connection was found lost.
  std::string FirstWords() const EXCLUDES(mutex_);
  std::optional<TClock::time_point> LostAt() const EXCLUDES(mutex_);

 private:
  // gensio 2.6.2 workaround (socket found through /proc/self/fd): gensio's own descriptor of
  // the socket; -1 when there is none yet.
  int GensioSocket() const;
  // gensio 2.6.2 workaround (Telnet no-operations), sent when the station keeps silent.
  void NudgeQuietStation() EXCLUDES(mutex_);
  TStationReport Report() const REQUIRES(mutex_);
  // Waits until `done` or the deadline; false when the deadline passed or the open was
  // cancelled first.
  bool WaitOpen(TMutexLock& lock, TClock::time_point deadline) REQUIRES(mutex_);

  struct TFreedNotice;

  const TNetworkAddress& address_;
  const TBounds bounds_;
  const std::atomic<bool>& lost_;
  const std::function<bool()> cancelled_;
  const std::unique_ptr<TFreedNotice> freedNotice_;
  // Set by Open before the loop calls in, cleared by Close once gensio let go.
  gensio* io_ = nullptr;
  sergensio* serial_ = nullptr;
  // Our own descriptor of the socket (keepalive set on it): adopted by Open before anyone reads
  // it, closed by Close after; in between only system calls on its one descriptor.
  TStationSocket socket_;

  mutable TMutex mutex_;
  // Notified by gensio's open, close and freed notices, and by Wake.
  std::condition_variable changed_;
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
  // The station said nothing in its first second and hung up at once when nudged.
  bool hungUpOnNudge_ GUARDED_BY(mutex_) = false;
  TDeviceError refusal_ GUARDED_BY(mutex_);
  // The kind and findings of the last failure told.
  TStationReport facts_ GUARDED_BY(mutex_);
  std::optional<TClock::time_point> lostAt_ GUARDED_BY(mutex_);
};
