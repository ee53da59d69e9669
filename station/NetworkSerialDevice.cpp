// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The network serial device on gensio: its events and timers run on the process's one station
// loop; the receive thread, the window's writes and the opening thread wait on condition
// variables that those events notify.
#include "station/NetworkSerialDevice.h"

#include <fcntl.h>
#include <gensio/gensio.h>
#include <gensio/sergensio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "serial/SerialPlatform.h"
#include "serial/Trace.h"
#include "station/ConnectFailure.h"
#include "station/OperatorIdentity.h"
#include "station/StationLoop.h"
#include "station/StationSocket.h"
#include "station/StationTrust.h"

namespace {

using TClock = std::chrono::steady_clock;

// The received text is kept here until the receive thread takes it; past this much the
// station is held back (TCP flow control) instead of growing the queue without end.
constexpr std::size_t InboxLimit = 1 << 20;
// The speed, data size, parity and stop size have to be confirmed within this.
constexpr auto SettingsBound = std::chrono::seconds(3);
// A station in front of a pseudo-terminal never answers the flow-control and modem-line
// requests; the flow control is not waited for longer than this.
constexpr auto ControlBound = std::chrono::milliseconds(300);
// A raw TCP station that is busy says so and hangs up at once.
constexpr auto BusyBound = std::chrono::milliseconds(300);

bool ReadableFile(const std::string& path, TAddressFile which, TStationReport& report,
                  std::string& reason) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    report.Failure = TStationFailure::FileUnreadable;
    report.SystemReason = std::strerror(errno);
    report.File = which;
    // A name that is not plainly a file's may be a password given as the file.
    if (PlainlyAPath(path)) report.Path = path;
    reason = "Unreadable: " + (report.Path.empty() ? std::string("a file of the address") : path) +
             " (" + report.SystemReason + ")";
    return false;
  }
  ::close(fd);
  return true;
}

unsigned StopSize(std::uint8_t code) {
  // RFC 2217 numbers one and a half stop bits 3.
  return code == 1 ? 3 : code == 2 ? 2 : 1;
}

}  // namespace

std::unique_ptr<TNetworkSerialDevice> TNetworkSerialDevice::Open(const std::string& text,
                                                                 TDeviceError& error,
                                                                 const TCancelFlag& cancelled) {
  std::string reason;
  TDeviceError refusal;
  ORVEL_TRACE(Network, "connect %s", TNetworkAddress::Masked(text).c_str());
  std::unique_ptr<TNetworkSerialDevice> device = OpenWithReason(text, cancelled, reason, refusal);
  if (!device) {
    const TStationReport report = refusal.Station;
    error = refusal.Kind != TSerialErrorKind::None ? refusal
                                                   : TDeviceError{TSerialErrorKind::Other, reason};
    error.Station = report;
    if (error.Station.SystemReason.empty()) error.Station.SystemReason = reason;
  }
  ORVEL_TRACE(Network, "connect: %s", device ? "open" : error.Message.c_str());
  return device;
}

std::unique_ptr<TNetworkSerialDevice> TNetworkSerialDevice::OpenWithReason(
    const std::string& text, const TCancelFlag& cancelled, std::string& reason,
    TDeviceError& refusal) {
  // The refusal carries the failure's facts in every case; its kind only for a refused station.
  refusal.Station.Failure = TStationFailure::Other;
  std::optional<TNetworkAddress> address = TNetworkAddress::Parse(text, reason);
  if (!address || !UseOperatorIdentity(*address, reason)) return nullptr;
  refusal.Station.Host = address->Host;
  refusal.Station.Port = address->Port;
  if (address->Kind == TNetworkKind::Rfc2217Tls) {
    TStationReport& report = refusal.Station;
    if ((!address->CaFile.empty() &&
         !ReadableFile(address->CaFile, TAddressFile::CertificateAuthority, report, reason)) ||
        (!address->CertFile.empty() &&
         !ReadableFile(address->CertFile, TAddressFile::ClientCertificate, report, reason)) ||
        (!address->KeyFile.empty() &&
         !ReadableFile(address->KeyFile, TAddressFile::Key, report, reason)))
      return nullptr;
  }
  std::unique_ptr<TNetworkSerialDevice> device(new TNetworkSerialDevice(*address, cancelled));
  if (!device->Connect(reason)) {
    TMutexLock lock(device->mutex_);
    const TStationReport report = device->Report();
    refusal = device->refusal_;
    refusal.Station = report;
    return nullptr;
  }
  return device;
}

// gensio's last word on a connection: after it, nothing of it calls into the device.
struct TNetworkSerialDevice::TFreedNotice : gensio_frdata {
  TNetworkSerialDevice* device = nullptr;
};

TNetworkSerialDevice::TNetworkSerialDevice(TNetworkAddress address, TCancelFlag cancelled)
    : address_(std::move(address)),
      cancelled_(std::move(cancelled)),
      freedNotice_(std::make_unique<TFreedNotice>()),
      watch_({QuietBound, AnswerBound, WriteAskSpan, WriteAskBound}, [this] { MarkLost(); }),
      negotiation_({SettingsBound, ControlBound}, [this](bool counts) { watch_.Heard(counts); }) {
  freedNotice_->device = this;
  freedNotice_->freed = [](struct gensio*, struct gensio_frdata* notice) {
    static_cast<TFreedNotice*>(notice)->device->Freed();
  };
}

TNetworkSerialDevice::~TNetworkSerialDevice() {
  Close();
}

bool TNetworkSerialDevice::Cancelled() const {
  return (cancelled_ && cancelled_->load()) || SerialWritesAborted();
}

void TNetworkSerialDevice::Wake() {
  {
    TMutexLock lock(mutex_);
    changed_.notify_all();
  }
  watch_.Wake();
  negotiation_.Wake();
}

bool TNetworkSerialDevice::Connect(std::string& reason) {
  loop_ = TStationLoop::Get(reason);
  if (!loop_) return false;
  wakeId_ = loop_->Listen([this] { Wake(); });
  int error = str_to_gensio(address_.Gensio().c_str(), loop_->Os(), &Event, this, &io_);
  if (error != 0) {
    io_ = nullptr;
    reason = Classify(error);
    return false;
  }
  error = gensio_open(
      io_,
      [](struct gensio*, int result, void* data) {
        static_cast<TNetworkSerialDevice*>(data)->OpenDone(result);
      },
      this);
  if (error != 0) {
    reason = Classify(error);
    return false;
  }
  int openError = 0;
  {
    const TClock::time_point deadline = TClock::now() + ConnectBound;
    TMutexLock lock(mutex_);
    TClock::time_point nudged{};
    if (address_.Kind == TNetworkKind::Rfc2217) {
      const TClock::time_point hint = TClock::now() + TlsHintBound;
      while (!openDone_ && !Cancelled() && lock.WaitUntil(changed_, hint)) {
      }
      if (!openDone_ && !Cancelled()) {
        lock.Unlock();
        NudgeQuietStation();
        nudged = TClock::now();
        lock.Lock();
      }
    }
    while (!openDone_ && !Cancelled() && lock.WaitUntil(changed_, deadline)) {
    }
    if (!openDone_) {
      reason = Cancelled() ? "Cancelled" : gensio_err_to_str(GE_TIMEDOUT);
      facts_.Failure = TStationFailure::TimedOut;
      return false;
    }
    openError = openError_;
    // A TLS station hangs up on the nudge at once; a station that opened, or ended the
    // connection only later, merely did not answer in time (a stopped one, a slow one).
    if (openError == 0 || TClock::now() - nudged > TlsHintBound) hungUpOnNudge_ = false;
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
  // Over RFC 2217 a hung station (its kernel still acknowledging) is found by asking it.
  watch_.Start(loop_->Os(), serial_, socket_);
  gensio_set_read_callback_enable(io_, true);
  if (address_.Kind == TNetworkKind::Tcp) {
    // A raw TCP station that is busy says so and hangs up at once.
    const TClock::time_point busy = TClock::now() + BusyBound;
    TMutexLock lock(mutex_);
    while (!lost_ && lock.WaitUntil(changed_, busy)) {
    }
    if (lost_) {
      lock.Unlock();
      reason = Classify(GE_REMCLOSE);
      return false;
    }
  }
  return true;
}

int TNetworkSerialDevice::Event(gensio*, void* data, int event, int error, unsigned char* buffer,
                                gensiods* length, const char* const*) {
  std::size_t size = length ? *length : 0;
  const int result = static_cast<TNetworkSerialDevice*>(data)->HandleEvent(
      event, error, buffer, length ? &size : nullptr);
  if (length) *length = size;
  return result;
}

int TNetworkSerialDevice::HandleEvent(int event, int error, unsigned char* buffer,
                                      std::size_t* length) {
  switch (event) {
    case GENSIO_EVENT_READ:
      if (error != 0) {
        MarkLost();
        return 0;
      }
      Received(reinterpret_cast<const char*>(buffer), *length);
      return 0;
    case GENSIO_EVENT_WRITE_READY: {
      TMutexLock lock(mutex_);
      writeReady_ = true;
      gensio_set_write_callback_enable(io_, false);
      changed_.notify_all();
      return 0;
    }
    case GENSIO_EVENT_SER_MODEMSTATE:
      if (buffer && length && *length >= sizeof(unsigned)) {
        unsigned state = 0;
        std::memcpy(&state, buffer, sizeof state);
        const auto lines = static_cast<std::uint8_t>(state & 0xf0);
        ORVEL_TRACE(Network, "modem lines news 0x%02x", lines);
        watch_.Heard(true);
        TMutexLock lock(mutex_);
        if (modemLines_.exchange(lines) != lines) {
          modemChanged_ = true;
          UpdateReadiness();
        }
      }
      return 0;
    case GENSIO_EVENT_PRECERT_VERIFY: {
      // Within the handshake, as the station's certificate arrives: with TLS 1.2 a station that
      // wants the client's certificate breaks off before the check that follows the handshake.
      TMutexLock lock(mutex_);
      certificateShown_ = true;
      return GE_NOTSUP;
    }
    case GENSIO_EVENT_POSTCERT_VERIFY: {
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
    default:
      return GE_NOTSUP;
  }
}

void TNetworkSerialDevice::Received(const char* bytes, std::size_t length) {
  ORVEL_TRACE(Network, "received %zu", length);
  bool held = false;
  {
    TMutexLock lock(mutex_);
    inbox_.append(bytes, length);
    if (firstWords_.size() < 256) firstWords_.append(bytes, std::min<std::size_t>(length, 256));
    if (inbox_.size() >= InboxLimit && !readPaused_) {
      readPaused_ = held = true;
      gensio_set_read_callback_enable(io_, false);
    }
    UpdateReadiness();
  }
  watch_.Heard(true);
  if (held) watch_.Hold(true);
}

void TNetworkSerialDevice::ResumeReading(std::size_t resumeAt) {
  if (!readPaused_ || inbox_.size() > resumeAt || lost_) return;
  readPaused_ = false;
  // Told to the watch before reading resumes: the station counts as heard until then.
  watch_.Hold(false);
  gensio_set_read_callback_enable(io_, true);
}

bool TNetworkSerialDevice::WaitLost(TClock::time_point deadline) {
  TMutexLock lock(mutex_);
  while (!lost_ && lock.WaitUntil(changed_, deadline)) {
  }
  return lost_;
}

void TNetworkSerialDevice::OpenDone(int error) {
  TMutexLock lock(mutex_);
  openDone_ = true;
  openError_ = error;
  changed_.notify_all();
}

void TNetworkSerialDevice::CloseDone() {
  TMutexLock lock(mutex_);
  closeDone_ = true;
  changed_.notify_all();
}

void TNetworkSerialDevice::Freed() {
  TMutexLock lock(mutex_);
  freed_ = true;
  changed_.notify_all();
}

void TNetworkSerialDevice::MarkLost() {
  {
    TMutexLock lock(mutex_);
    if (!lost_) {
      ORVEL_TRACE(Network, "connection lost");
      socket_.ResetOnClose();
      lostAt_ = TClock::now();
    }
    lost_ = true;
    UpdateReadiness();
  }
  Wake();
}

void TNetworkSerialDevice::UpdateReadiness() {
  ready_.Set(!inbox_.empty() || lost_ || modemChanged_);
}

std::string TNetworkSerialDevice::Classify(int error) {
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

TStationReport TNetworkSerialDevice::Report() const {
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

bool TNetworkSerialDevice::ApplyLineSettings(const TLineSettings& settings, TDeviceError& error) {
  std::string reason;
  if (ApplySettings(settings, reason)) return true;
  error =
      TDeviceError{lost_ ? TSerialErrorKind::Vanished : TSerialErrorKind::RefusedSetting, reason};
  TMutexLock lock(mutex_);
  error.Station = Report();
  error.Station.SystemReason = reason;
  return false;
}

bool TNetworkSerialDevice::ApplySettings(const TLineSettings& settings, std::string& reason) {
  if (lost_) {
    reason = Classify(GE_REMCLOSE);
    return false;
  }
  // Over raw TCP the station's own settings apply.
  if (!serial_) return true;
  if (settings.BitsPerSecond <= 0 || settings.DataBits < 5 || settings.DataBits > 8 ||
      settings.ParityCode > 4 || settings.StopBitsCode > 2) {
    reason = "Invalid argument";
    return false;
  }
  const unsigned flowValue = settings.OutxCtsFlow ? SERGENSIO_FLOWCONTROL_RTS_CTS
                             : settings.OutX      ? SERGENSIO_FLOWCONTROL_XON_XOFF
                                                  : SERGENSIO_FLOWCONTROL_NONE;
  const std::array<unsigned, TLineRequests::SettingCount> wanted = {
      static_cast<unsigned>(settings.BitsPerSecond), settings.DataBits, settings.ParityCode + 1u,
      StopSize(settings.StopBitsCode), flowValue};
  const TLineNegotiation::TOutcome outcome = negotiation_.Apply(
      serial_, wanted, settings.Dtr, settings.Rts, [this] { return lost_.load() || Cancelled(); });
  if (outcome.TooMany) {
    reason = "Unanswered: earlier requests";
    TMutexLock lock(mutex_);
    facts_.Failure = TStationFailure::RequestsUnanswered;
    return false;
  }
  if (outcome.SendError != 0) {
    reason = Classify(outcome.SendError);
    return false;
  }
  // A connection that ends once the line is confirmed is the receive thread's to find.
  if (outcome.Stopped) {
    if (outcome.LineAnswered) return true;
    reason = Classify(GE_REMCLOSE);
    return false;
  }
  static constexpr const char* Names[] = {"speed", "data size", "parity", "stop size",
                                          "flow control"};
  const TLineRequests::TJudgement judgement = outcome.Judgement;
  const auto index = static_cast<std::size_t>(judgement.Setting);
  TMutexLock lock(mutex_);
  if (judgement.Verdict == TLineRequests::TVerdict::Unconfirmed) {
    // A busy station's words may come while its hang-up is still on the way.
    if (TConnectFailure::SaysInUse(firstWords_)) {
      reason = TConnectFailure::FirstLine(firstWords_);
      facts_.Failure = TStationFailure::InUse;
      return false;
    }
    reason = std::string("Unconfirmed: ") + Names[index];
    facts_.Failure = TStationFailure::SettingUnconfirmed;
    facts_.Setting = Names[index];
    return false;
  }
  if (judgement.Verdict == TLineRequests::TVerdict::Refused) {
    facts_.Failure = TStationFailure::SettingRefused;
    facts_.Setting = Names[index];
    if (judgement.Setting != TLineRequests::TSetting::Flow) {
      facts_.Value = std::to_string(wanted[index]);
    }
    reason = "Refused: " + facts_.Setting + (facts_.Value.empty() ? "" : " " + facts_.Value);
    return false;
  }
  return true;
}

void TNetworkSerialDevice::ApplyTimeouts(const TTimeouts& timeouts) {
  writeTimeouts_.Apply(timeouts);
}

void TNetworkSerialDevice::ApplyBufferSizes(std::uint32_t input, std::uint32_t) {
  // The station's driver queues are its own; the input queue's size still bounds what one
  // pass of the receive thread takes, as a local driver's queue does, so that a flooding
  // station cannot hand the receive handler a megabyte at a time.
  inputQueue_ = input;
}

void TNetworkSerialDevice::PurgeInput() {
  {
    TMutexLock lock(mutex_);
    inbox_.clear();
    // Reading resumes only as the inbox empties; emptied here, nothing else would resume it.
    ResumeReading(0);
    UpdateReadiness();
  }
  if (serial_ && !lost_) sergensio_flush(serial_, SERGENSIO_FLUSH_RCV_BUFFER);
}

std::optional<std::size_t> TNetworkSerialDevice::BytesWaiting() {
  TMutexLock lock(mutex_);
  const std::size_t queue = inputQueue_;
  return queue == 0 ? inbox_.size() : std::min(inbox_.size(), queue);
}

TTransfer TNetworkSerialDevice::Read(char* buffer, std::size_t size) {
  TMutexLock lock(mutex_);
  if (inbox_.empty() && lost_ && size > 0) return TTransfer{0, TSerialErrorKind::Vanished};
  const std::size_t count = std::min(size, inbox_.size());
  std::memcpy(buffer, inbox_.data(), count);
  inbox_.erase(0, count);
  ResumeReading(InboxLimit / 2);
  UpdateReadiness();
  return TTransfer{count};
}

TTransfer TNetworkSerialDevice::Write(const char* data, std::size_t size,
                                      std::chrono::milliseconds longestWait) {
  if (SerialWritesAborted()) return TTransfer{0, TSerialErrorKind::WriteAborted};
  // A command that a hung station would carry out whenever it resumes must not leave here.
  if (!watch_.ProveAlive(lost_)) return TTransfer{0, TSerialErrorKind::Vanished};
  const auto sentAt = std::chrono::system_clock::now();
  const TClock::time_point deadline = writeTimeouts_.Deadline(size, longestWait);
  TTransfer result;
  while (result.Count < size && !lost_) {
    gensiods count = 0;
    {
      TMutexLock lock(mutex_);
      writeReady_ = false;
    }
    if (gensio_write(io_, &count, data + result.Count, size - result.Count, nullptr) != 0) {
      MarkLost();
      break;
    }
    result.Count += count;
    if (result.Count == size) break;
    gensio_set_write_callback_enable(io_, true);
    // The room, the loss or the abort (through the loop's Wake) ends the wait.
    TMutexLock lock(mutex_);
    while (!writeReady_ && !lost_ && !SerialWritesAborted() && lock.WaitUntil(changed_, deadline)) {
    }
    if (SerialWritesAborted()) {
      result.Failure = TSerialErrorKind::WriteAborted;
      break;
    }
    if (!writeReady_ && !lost_) {
      result.Failure = TSerialErrorKind::WriteTimedOut;
      break;
    }
  }
  if (result.Count < size && lost_) result.Failure = TSerialErrorKind::Vanished;
  if (result.Count > 0) {
    watch_.Wrote(std::string(data, result.Count), sentAt);
    TMutexLock lock(mutex_);
    if (!firstWrite_) firstWrite_ = TClock::now();
  }
  ORVEL_TRACE(Network, "write %zu of %zu", result.Count, size);
  return result;
}

std::optional<std::uint8_t> TNetworkSerialDevice::ModemStatus() {
  if (!serial_) return std::nullopt;
  TMutexLock lock(mutex_);
  modemChanged_ = false;
  UpdateReadiness();
  return modemLines_.load();
}

void TNetworkSerialDevice::Close() {
  ORVEL_TRACE(Network, "close");
  watch_.Stop();
  if (io_) {
    {
      // Nothing more is read: a station that hung without anyone noticing yet would otherwise
      // hold a TLS close, which waits for its farewell, until it resumes.
      TMutexLock lock(mutex_);
      socket_.ShutInput();
    }
    const int error = gensio_close(
        io_,
        [](struct gensio*, void* data) { static_cast<TNetworkSerialDevice*>(data)->CloseDone(); },
        this);
    // No bound of our own: gensio may still call into this object (events, answers to
    // line-setting requests) until it has closed. Its close is bounded by the socket's user
    // time-out, and a lost connection is reset rather than drained.
    TMutexLock lock(mutex_);
    while (error == 0 && !closeDone_) lock.Wait(changed_);
    lock.Unlock();
    gensio_set_frdata(io_, freedNotice_.get());
    gensio_free(io_);
    lock.Lock();
    while (!freed_) lock.Wait(changed_);
    lock.Unlock();
    negotiation_.Clear();
    // The last descriptor of the socket: its close ends the connection (with a reset when
    // it was lost).
    socket_.Close();
    io_ = nullptr;
    serial_ = nullptr;
  }
  if (loop_) {
    loop_->Forget(wakeId_);
    loop_ = nullptr;
  }
  lost_ = true;
}

int TNetworkSerialDevice::GensioSocket() const {
  char localPort[32] = "";
  gensiods size = sizeof localPort - 1;
  if (gensio_control(io_, GENSIO_CONTROL_DEPTH_FIRST, GENSIO_CONTROL_GET, GENSIO_CONTROL_LPORT,
                     localPort, &size) != 0) {
    return -1;
  }
  return TStationSocket::FindGensioSocket(static_cast<unsigned>(std::atoi(localPort)),
                                          address_.Port);
}

std::vector<TUnconfirmedWrite> TNetworkSerialDevice::UnconfirmedWrites() const {
  return watch_.Unconfirmed();
}

TStationReport TNetworkSerialDevice::LossReport() const {
  TMutexLock lock(mutex_);
  if (!lost_ || address_.Kind != TNetworkKind::Tcp || !lostAt_) return {};
  std::optional<TClock::duration> writeToLoss;
  if (firstWrite_) writeToLoss = *lostAt_ - *firstWrite_;
  if (!RefusedAsTls(firstWords_, writeToLoss)) return {};
  TStationReport report;
  report.Failure = TStationFailure::ExpectsTls;
  report.Address = address_.Shown();
  report.Host = address_.Host;
  report.Port = address_.Port;
  return report;
}

bool TNetworkSerialDevice::RefusedAsTls(std::string_view firstWords,
                                        std::optional<TClock::duration> writeToLoss) {
  // A TLS record's header: an alert or a handshake, then the protocol's major version 3.
  if (firstWords.size() >= 3 && (firstWords[0] == '\x15' || firstWords[0] == '\x16') &&
      firstWords[1] == '\x03' && static_cast<unsigned char>(firstWords[2]) <= 4) {
    return true;
  }
  // A TLS station (ser2net's, measured) hangs up without a word on bytes that are no TLS
  // greeting; a raw station that serves greets or answers, or stays.
  return firstWords.empty() && writeToLoss && *writeToLoss <= TlsRefusalBound;
}

std::optional<std::chrono::system_clock::time_point> TNetworkSerialDevice::LastHeard() const {
  return watch_.LastHeard();
}

std::optional<std::chrono::microseconds> TNetworkSerialDevice::LastRoundTrip() const {
  return watch_.LastRoundTrip();
}

void TNetworkSerialDevice::NudgeQuietStation() {
  if (TStationSocket::SendTelnetNoOperations(GensioSocket())) {
    TMutexLock lock(mutex_);
    hungUpOnNudge_ = true;
  }
}
