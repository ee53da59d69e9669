// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The opening thread waits on a condition variable that gensio's open-done notifies, on the
// station loop; a cancel or the abort ends the wait through Wake.
#include "station/StationConnection.h"

#include <gensio/gensio.h>
#include <gensio/sergensio.h>

#include <cstdlib>
#include <utility>

#include "station/ConnectFailure.h"
#include "station/StationTrust.h"

// gensio's last word on a connection: after it, nothing of it calls in.
struct TStationConnection::TFreedNotice : gensio_frdata {
  TStationConnection* connection = nullptr;
};

TStationConnection::TStationConnection(const TNetworkAddress& address, TBounds bounds,
                                       const std::atomic<bool>& lost,
                                       std::function<bool()> cancelled)
    : address_(address),
      bounds_(bounds),
      lost_(lost),
      cancelled_(std::move(cancelled)),
      freedNotice_(std::make_unique<TFreedNotice>()) {
  freedNotice_->connection = this;
  freedNotice_->freed = [](struct gensio*, struct gensio_frdata* notice) {
    TStationConnection* connection = static_cast<TFreedNotice*>(notice)->connection;
    TMutexLock lock(connection->mutex_);
    connection->freed_ = true;
    connection->changed_.notify_all();
  };
}

TStationConnection::~TStationConnection() {
  Close();
}

bool TStationConnection::WaitOpen(TMutexLock& lock, TClock::time_point deadline) {
  while (!openDone_ && !cancelled_() && lock.WaitUntil(changed_, deadline)) {
  }
  return openDone_;
}

bool TStationConnection::Open(gensio_os_funcs* os, TEventHandler handler, void* data,
                              std::string& reason) {
  int error = str_to_gensio(address_.Gensio().c_str(), os, handler, data, &io_);
  if (error != 0) {
    io_ = nullptr;
    reason = Classify(error);
    return false;
  }
  error = gensio_open(
      io_,
      [](struct gensio*, int result, void* connection) {
        auto* self = static_cast<TStationConnection*>(connection);
        TMutexLock lock(self->mutex_);
        self->openDone_ = true;
        self->openError_ = result;
        self->changed_.notify_all();
      },
      this);
  if (error != 0) {
    reason = Classify(error);
    return false;
  }
  int openError = 0;
  {
    const TClock::time_point deadline = TClock::now() + bounds_.Connect;
    TMutexLock lock(mutex_);
    TClock::time_point nudged{};
    if (address_.Kind == TNetworkKind::Rfc2217 &&
        !WaitOpen(lock, TClock::now() + bounds_.TlsHint) && !cancelled_()) {
      lock.Unlock();
      NudgeQuietStation();
      nudged = TClock::now();
      lock.Lock();
    }
    if (!WaitOpen(lock, deadline)) {
      reason = cancelled_() ? "Cancelled" : gensio_err_to_str(GE_TIMEDOUT);
      facts_.Failure = TStationFailure::TimedOut;
      return false;
    }
    openError = openError_;
    // A TLS station hangs up on the nudge at once; a station that opened, or ended the
    // connection only later, merely did not answer in time (a stopped one, a slow one).
    if (openError == 0 || TClock::now() - nudged > bounds_.TlsHint) hungUpOnNudge_ = false;
  }
  if (openError != 0) {
    reason = Classify(openError);
    return false;
  }
  socket_.Adopt(GensioSocket());
  if (address_.Kind != TNetworkKind::Tcp) {
    serial_ = gensio_to_sergensio(io_);
    if (!serial_) {
      reason = Classify(GE_NOTSUP);
      return false;
    }
  }
  return true;
}

void TStationConnection::Close() {
  if (!io_) return;
  // Nothing more is read: a station that hung without anyone noticing yet would otherwise hold
  // a TLS close, which waits for its farewell, until it resumes.
  socket_.ShutInput();
  const int error = gensio_close(
      io_,
      [](struct gensio*, void* connection) {
        auto* self = static_cast<TStationConnection*>(connection);
        TMutexLock lock(self->mutex_);
        self->closeDone_ = true;
        self->changed_.notify_all();
      },
      this);
  // No bound of our own: gensio may still call in (events, answers to line-setting requests)
  // until it has closed. Its close is bounded by the socket's user time-out, and a lost
  // connection is reset rather than drained.
  TMutexLock lock(mutex_);
  while (error == 0 && !closeDone_) lock.Wait(changed_);
  lock.Unlock();
  gensio_set_frdata(io_, freedNotice_.get());
  gensio_free(io_);
  lock.Lock();
  while (!freed_) lock.Wait(changed_);
  lock.Unlock();
  // The last descriptor of the socket: its close ends the connection (with a reset when it
  // was lost).
  socket_.Close();
  io_ = nullptr;
  serial_ = nullptr;
}

void TStationConnection::NoteWords(const char* bytes, std::size_t length) {
  TMutexLock lock(mutex_);
  if (firstWords_.size() < 256) firstWords_.append(bytes, std::min<std::size_t>(length, 256));
}

int TStationConnection::CertificateShown() {
  // Within the handshake, as the station's certificate arrives: with TLS 1.2 a station that
  // wants the client's certificate breaks off before the check that follows the handshake.
  TMutexLock lock(mutex_);
  certificateShown_ = true;
  return GE_NOTSUP;
}

int TStationConnection::CertificateChecked(int error) {
  const std::string name = TStationTrust::PeerSubject(io_);
  const std::string pem = TStationTrust::PeerCertificate(io_);
  // gensio checks the chain only; the name is this program's to check.
  const bool wrongHost = error == 0 && !TStationTrust::IssuedFor(address_, pem);
  if (wrongHost) error = GE_CERTINVALID;
  TDeviceError refusal;
  const std::optional<int> answer = TStationTrust::JudgeByPins(address_, pem, error, refusal);
  TMutexLock lock(mutex_);
  if (answer) {
    if (refusal.Kind != TSerialErrorKind::None) refusal_ = std::move(refusal);
    return *answer;
  }
  peerSubject_ = name;
  certificateError_ = error;
  wrongHost_ = wrongHost;
  return error == 0 ? GE_NOTSUP : GE_AUTHREJECT;
}

void TStationConnection::Lost() {
  TMutexLock lock(mutex_);
  if (lostAt_) return;
  socket_.ResetOnClose();
  lostAt_ = TClock::now();
  changed_.notify_all();
}

void TStationConnection::Wake() {
  TMutexLock lock(mutex_);
  changed_.notify_all();
}

bool TStationConnection::WaitLost(TClock::time_point deadline) {
  TMutexLock lock(mutex_);
  while (!lost_ && lock.WaitUntil(changed_, deadline)) {
  }
  return lost_;
}

std::string TStationConnection::Classify(int error) {
  TConnectFacts facts;
  facts.Error = error;
  facts.Tls = address_.Kind == TNetworkKind::Rfc2217Tls;
  facts.OwnKey = !address_.KeyFile.empty();
  TMutexLock lock(mutex_);
  facts.HungUpOnNudge = hungUpOnNudge_;
  facts.Subject = peerSubject_;
  facts.CertificateError = certificateError_;
  facts.WrongHost = wrongHost_;
  facts.FirstWords = firstWords_;
  facts.CertificateShown = certificateShown_;
  // This connection's own count: gensio reports a refused COM-PORT option and an unanswered
  // one alike.
  facts.Silent = socket_.ReceivedBytes() == std::optional<std::uint64_t>(0);
  facts_ = {};
  TConnectFailure::Classify(facts, facts_);
  return facts_.SystemReason;
}

void TStationConnection::Fail(TStationFailure failure, std::string setting, std::string value) {
  TMutexLock lock(mutex_);
  facts_.Failure = failure;
  facts_.Setting = std::move(setting);
  facts_.Value = std::move(value);
}

std::string TStationConnection::InUseWords() const {
  TMutexLock lock(mutex_);
  return TConnectFailure::SaysInUse(firstWords_) ? TConnectFailure::FirstLine(firstWords_)
                                                 : std::string();
}

TStationReport TStationConnection::Report() const {
  TStationReport report = facts_;
  // A refusal for the certificate says more than gensio's error that followed it.
  if (refusal_.Kind != TSerialErrorKind::None) {
    report.Failure =
        refusal_.Kind == TSerialErrorKind::UnknownStation   ? TStationFailure::UnknownStation
        : refusal_.Kind == TSerialErrorKind::StationChanged ? TStationFailure::StationChanged
                                                            : TStationFailure::Other;
    report.SystemReason = refusal_.Message;
  }
  report.Host = address_.Host;
  report.Port = address_.Port;
  report.Pinned = refusal_.Station.Pinned;
  return report;
}

TDeviceError TStationConnection::Refusal() const {
  TMutexLock lock(mutex_);
  TDeviceError refusal = refusal_;
  refusal.Station = Report();
  return refusal;
}

std::string TStationConnection::FirstWords() const {
  TMutexLock lock(mutex_);
  return firstWords_;
}

std::optional<TStationConnection::TClock::time_point> TStationConnection::LostAt() const {
  TMutexLock lock(mutex_);
  return lostAt_;
}

int TStationConnection::GensioSocket() const {
  char localPort[32] = "";
  gensiods size = sizeof localPort - 1;
  if (gensio_control(io_, GENSIO_CONTROL_DEPTH_FIRST, GENSIO_CONTROL_GET, GENSIO_CONTROL_LPORT,
                     localPort, &size) != 0) {
    return -1;
  }
  return TStationSocket::FindGensioSocket(static_cast<unsigned>(std::atoi(localPort)),
                                          address_.Port);
}

void TStationConnection::NudgeQuietStation() {
  if (TStationSocket::SendTelnetNoOperations(GensioSocket())) {
    TMutexLock lock(mutex_);
    hungUpOnNudge_ = true;
  }
}
