// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The network serial device on gensio. gensio's default OS handler is one for the process;
// each connection keeps a thread of its own waiting in it, so that its events run while it is
// open. The receive thread and the window's writes only queue work and wait on condition
// variables.
#include "station/NetworkSerialDevice.h"

#include <fcntl.h>
#include <gensio/gensio.h>
#include <gensio/gensio_os_funcs.h>
#include <gensio/sergensio.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "serial/SerialPlatform.h"
#include "serial/Trace.h"
#include "station/ConnectFailure.h"
#include "station/GensioOs.h"
#include "station/OperatorIdentity.h"
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
// How soon a waiting write notices AbortSerialWrites.
constexpr auto AbortSlice = std::chrono::milliseconds(50);
// How often the byte count is looked at while a question waits for its answer: gensio need not
// tell when the answer came (it may hand it to another request, or to none).
constexpr auto CountSlice = std::chrono::milliseconds(10);
// A write that asked first looks more often at the start.
constexpr auto FirstCountSlice = std::chrono::milliseconds(1);
constexpr auto FirstCountSpan = std::chrono::milliseconds(50);

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

int EventTrampoline(struct gensio*, void* data, int event, int error, unsigned char* buffer,
                    gensiods* length, const char* const* auxdata) {
  std::size_t size = length ? *length : 0;
  const int result = static_cast<TNetworkSerialDevice*>(data)->HandleEvent(
      event, error, buffer, length ? &size : nullptr, auxdata);
  if (length) *length = size;
  return result;
}

void ReplyTrampoline(struct sergensio*, int error, unsigned value, void* data) {
  auto& reply = *static_cast<TLineRequests::TReply*>(data);
  static_cast<TNetworkSerialDevice*>(reply.Context)->Answer(reply, error, value);
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
    std::lock_guard lock(device->mutex_);
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
      requests_({SettingsBound, ControlBound}) {
  freedNotice_->device = this;
  freedNotice_->freed = [](struct gensio*, struct gensio_frdata* notice) {
    static_cast<TFreedNotice*>(notice)->device->Freed();
  };
}

bool TNetworkSerialDevice::Cancelled() const {
  return (cancelled_ && cancelled_->load()) || SerialWritesAborted();
}

bool TNetworkSerialDevice::WaitUntil(std::unique_lock<std::mutex>& lock,
                                     TClock::time_point deadline,
                                     const std::function<bool()>& done) {
  // In short slices: the one who cancels does not know this connection's condition variable.
  while (!done() && !Cancelled() && TClock::now() < deadline) {
    changed_.wait_until(lock, std::min(deadline, TClock::now() + AbortSlice));
  }
  return done();
}

TNetworkSerialDevice::~TNetworkSerialDevice() {
  Close();
}

bool TNetworkSerialDevice::Connect(std::string& reason) {
  os_ = TGensioOs::Get(reason);
  if (!os_) return false;
  stopWaiter_ = gensio_os_funcs_alloc_waiter(os_);
  if (!stopWaiter_) {
    reason = "Out of memory";
    return false;
  }
  loop_ = std::thread([this] { RunLoop(); });
  int error = str_to_gensio(address_.Gensio().c_str(), os_, EventTrampoline, this, &io_);
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
    std::unique_lock lock(mutex_);
    TClock::time_point nudged{};
    if (address_.Kind == TNetworkKind::Rfc2217 &&
        !WaitUntil(lock, TClock::now() + TlsHintBound, [this] { return openDone_; })) {
      lock.unlock();
      NudgeQuietStation();
      nudged = TClock::now();
      lock.lock();
    }
    if (!WaitUntil(lock, deadline, [this] { return openDone_; })) {
      reason = Cancelled() ? "Cancelled" : gensio_err_to_str(GE_TIMEDOUT);
      facts_.Failure = TStationFailure::TimedOut;
      return false;
    }
    openError = openError_;
    // A TLS station hangs up on the nudge at once; a station that opened, or ended the
    // connection only later, merely did not answer in time (a stopped one, a slow one).
    if (openError == 0 || TClock::now() - nudged > TlsHintBound) quietStation_ = false;
  }
  if (openError != 0) {
    reason = Classify(openError);
    return false;
  }
  {
    const int gensioSocket = GensioSocket();
    std::lock_guard lock(mutex_);
    countsSocket_ = socket_.Adopt(gensioSocket) && socket_.ReceivedBytes().has_value();
    liveness_.Start(TClock::now(), ReceivedCount());
  }
  if (address_.Kind != TNetworkKind::Tcp) {
    serial_ = gensio_to_sergensio(io_);
    if (!serial_) {
      reason = Classify(GE_NOTSUP);
      return false;
    }
  }
  gensio_set_read_callback_enable(io_, true);
  // Over RFC 2217 a hung station (its kernel still acknowledging) is found by asking it.
  if (serial_) watch_ = std::thread([this] { WatchLiveness(); });
  if (address_.Kind == TNetworkKind::Tcp) {
    std::unique_lock lock(mutex_);
    const bool closed = WaitUntil(lock, TClock::now() + BusyBound, [this] { return lost_.load(); });
    lock.unlock();
    if (closed) {
      reason = Classify(GE_REMCLOSE);
      return false;
    }
  }
  return true;
}

void TNetworkSerialDevice::RunLoop() {
  // Only this thread waits in gensio, so only it may take gensio's wake signal; a dead
  // connection must not end the program with SIGPIPE.
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  sigaddset(&blocked, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
  gensio_os_funcs_wait(os_, stopWaiter_, 1, nullptr);
}

int TNetworkSerialDevice::HandleEvent(int event, int error, unsigned char* buffer,
                                      std::size_t* length, const char* const*) {
  switch (event) {
    case GENSIO_EVENT_READ: {
      if (error != 0) {
        MarkLost();
        return 0;
      }
      ORVEL_TRACE(Network, "received %zu", *length);
      std::lock_guard lock(mutex_);
      heardEvents_ += *length;
      Heard();
      changed_.notify_all();
      const auto* bytes = reinterpret_cast<const char*>(buffer);
      inbox_.append(bytes, *length);
      if (firstWords_.size() < 256) firstWords_.append(bytes, std::min<std::size_t>(*length, 256));
      if (inbox_.size() >= InboxLimit && !readPaused_) {
        readPaused_ = true;
        liveness_.Hold(TClock::now(), true);
        gensio_set_read_callback_enable(io_, false);
      }
      UpdateReadiness();
      return 0;
    }
    case GENSIO_EVENT_WRITE_READY: {
      std::lock_guard lock(mutex_);
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
        std::lock_guard lock(mutex_);
        ++heardEvents_;
        Heard();
        changed_.notify_all();
        if (modemLines_.exchange(lines) != lines) {
          modemChanged_ = true;
          UpdateReadiness();
        }
      }
      return 0;
    case GENSIO_EVENT_PRECERT_VERIFY: {
      // Within the handshake, as the station's certificate arrives: with TLS 1.2 a station that
      // wants the client's certificate breaks off before the check that follows the handshake.
      std::lock_guard lock(mutex_);
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
      std::lock_guard lock(mutex_);
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

bool TNetworkSerialDevice::WaitLost(TClock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, deadline, [this] { return lost_.load(); });
}

void TNetworkSerialDevice::OpenDone(int error) {
  std::lock_guard lock(mutex_);
  openDone_ = true;
  openError_ = error;
  changed_.notify_all();
}

void TNetworkSerialDevice::CloseDone() {
  std::lock_guard lock(mutex_);
  closeDone_ = true;
  changed_.notify_all();
}

void TNetworkSerialDevice::MarkLost() {
  std::lock_guard lock(mutex_);
  if (!lost_) {
    ORVEL_TRACE(Network, "connection lost");
    socket_.ResetOnClose();
    lostAt_ = TClock::now();
  }
  lost_ = true;
  UpdateReadiness();
  changed_.notify_all();
}

void TNetworkSerialDevice::UpdateReadiness() {
  ready_.Set(!inbox_.empty() || lost_ || modemChanged_);
}

void TNetworkSerialDevice::Answer(TLineRequests::TReply& reply, int error, unsigned value) {
  std::lock_guard lock(mutex_);
  // gensio gives up a request that was never answered with an error: not the station's word.
  if (error == 0) ++heardEvents_;
  Heard();
  requests_.Answer(reply, TClock::now(), error, value);
  changed_.notify_all();
}

std::string TNetworkSerialDevice::Classify(int error) {
  TConnectFacts facts;
  facts.Error = error;
  facts.Tls = address_.Kind == TNetworkKind::Rfc2217Tls;
  facts.OwnKey = !address_.KeyFile.empty();
  facts.HungUpOnNudge = quietStation_;
  std::lock_guard lock(mutex_);
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
  std::lock_guard lock(mutex_);
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
  using TSetting = TLineRequests::TSetting;
  const unsigned flowValue = settings.OutxCtsFlow ? SERGENSIO_FLOWCONTROL_RTS_CTS
                             : settings.OutX      ? SERGENSIO_FLOWCONTROL_XON_XOFF
                                                  : SERGENSIO_FLOWCONTROL_NONE;
  const std::array<unsigned, TLineRequests::SettingCount> wanted = {
      static_cast<unsigned>(settings.BitsPerSecond), settings.DataBits, settings.ParityCode + 1u,
      StopSize(settings.StopBitsCode), flowValue};
  std::array<TLineRequests::TReply*, TLineRequests::SettingCount> replies{};
  {
    std::lock_guard lock(mutex_);
    if (!requests_.Begin(TClock::now(), wanted, this, replies)) {
      reason = "Unanswered: earlier requests";
      facts_.Failure = TStationFailure::RequestsUnanswered;
      return false;
    }
  }
  int error = 0;
  for (std::size_t i = 0; i < TLineRequests::SettingCount && error == 0; ++i) {
    error = Ask(static_cast<TSetting>(i), wanted[i], *replies[i]);
  }
  if (error == 0 && settings.Dtr != TLineControl::Handshake) {
    error = sergensio_dtr(
        serial_, settings.Dtr == TLineControl::Raised ? SERGENSIO_DTR_ON : SERGENSIO_DTR_OFF,
        nullptr, nullptr);
  }
  if (error == 0 && settings.Rts != TLineControl::Handshake) {
    error = sergensio_rts(
        serial_, settings.Rts == TLineControl::Raised ? SERGENSIO_RTS_ON : SERGENSIO_RTS_OFF,
        nullptr, nullptr);
  }
  if (error != 0) {
    reason = Classify(error);
    return false;
  }
  static constexpr const char* Names[] = {"speed", "data size", "parity", "stop size",
                                          "flow control"};
  bool askMask = false;
  {
    std::unique_lock lock(mutex_);
    TLineRequests::TJudgement judgement;
    // In short slices: the one who cancels does not know this connection's condition variable.
    while ((judgement = requests_.Judge(TClock::now())).Verdict ==
               TLineRequests::TVerdict::Waiting &&
           !lost_ && !Cancelled()) {
      std::vector<std::pair<TSetting, TLineRequests::TReply*>> again;
      for (const TSetting setting : requests_.Swallowed()) {
        again.emplace_back(setting, requests_.Request(setting, this));
      }
      if (again.empty()) {
        changed_.wait_until(lock, std::min(requests_.Due(), TClock::now() + AbortSlice));
        continue;
      }
      lock.unlock();
      for (const auto& [setting, reply] : again) {
        Ask(setting, wanted[static_cast<std::size_t>(setting)], *reply);
      }
      lock.lock();
    }
    // A connection that ends once the line is confirmed is the receive thread's to find.
    if (!requests_.LineAnswered() && (lost_ || Cancelled())) {
      lock.unlock();
      reason = Classify(GE_REMCLOSE);
      return false;
    }
    const auto index = static_cast<std::size_t>(judgement.Setting);
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
      if (judgement.Setting != TSetting::Flow) facts_.Value = std::to_string(wanted[index]);
      reason = "Refused: " + facts_.Setting + (facts_.Value.empty() ? "" : " " + facts_.Value);
      return false;
    }
    askMask = !std::exchange(modemMaskAsked_, true);
  }
  // Ask for every change of the station's modem lines (NOTIFY-MODEMSTATE) only now: gensio
  // hands a station's answer to this request to whichever line-setting request waits first.
  // Not under this object's lock: gensio's event thread holds gensio's locks while it calls in
  // here and takes that lock.
  if (askMask) sergensio_modemstate(serial_, 0xff);
  return true;
}

int TNetworkSerialDevice::Ask(TLineRequests::TSetting setting, unsigned value,
                              TLineRequests::TReply& reply) {
  using enum TLineRequests::TSetting;
  switch (setting) {
    case Speed:
      return sergensio_baud(serial_, value, ReplyTrampoline, &reply);
    case DataSize:
      return sergensio_datasize(serial_, value, ReplyTrampoline, &reply);
    case Parity:
      return sergensio_parity(serial_, value, ReplyTrampoline, &reply);
    case StopSize:
      return sergensio_stopbits(serial_, value, ReplyTrampoline, &reply);
    default:
      return sergensio_flowcontrol(serial_, value, ReplyTrampoline, &reply);
  }
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
    std::lock_guard lock(mutex_);
    inbox_.clear();
    // Reading resumes only as the inbox empties; emptied here, nothing else would resume it.
    if (readPaused_ && !lost_) {
      readPaused_ = false;
      liveness_.Hold(TClock::now(), false);
      changed_.notify_all();
      gensio_set_read_callback_enable(io_, true);
    }
    UpdateReadiness();
  }
  if (serial_ && !lost_) sergensio_flush(serial_, SERGENSIO_FLUSH_RCV_BUFFER);
}

std::optional<std::size_t> TNetworkSerialDevice::BytesWaiting() {
  std::lock_guard lock(mutex_);
  const std::size_t queue = inputQueue_;
  return queue == 0 ? inbox_.size() : std::min(inbox_.size(), queue);
}

TTransfer TNetworkSerialDevice::Read(char* buffer, std::size_t size) {
  std::lock_guard lock(mutex_);
  if (inbox_.empty() && lost_ && size > 0) return TTransfer{0, TSerialErrorKind::Vanished};
  const std::size_t count = std::min(size, inbox_.size());
  std::memcpy(buffer, inbox_.data(), count);
  inbox_.erase(0, count);
  if (readPaused_ && inbox_.size() < InboxLimit / 2 && !lost_) {
    readPaused_ = false;
    liveness_.Hold(TClock::now(), false);
    changed_.notify_all();
    gensio_set_read_callback_enable(io_, true);
  }
  UpdateReadiness();
  return TTransfer{count};
}

TTransfer TNetworkSerialDevice::Write(const char* data, std::size_t size,
                                      std::chrono::milliseconds longestWait) {
  if (SerialWritesAborted()) return TTransfer{0, TSerialErrorKind::WriteAborted};
  // A command that a hung station would carry out whenever it resumes must not leave here.
  if (!ProveAlive(WriteAskBound)) return TTransfer{0, TSerialErrorKind::Vanished};
  const auto sentAt = std::chrono::system_clock::now();
  const TClock::time_point deadline = writeTimeouts_.Deadline(size, longestWait);
  TTransfer result;
  while (result.Count < size && !lost_) {
    gensiods count = 0;
    {
      std::lock_guard lock(mutex_);
      writeReady_ = false;
    }
    if (gensio_write(io_, &count, data + result.Count, size - result.Count, nullptr) != 0) {
      MarkLost();
      break;
    }
    result.Count += count;
    if (result.Count == size) break;
    gensio_set_write_callback_enable(io_, true);
    // In short slices: AbortSerialWrites, being safe in a signal handler, cannot notify.
    std::unique_lock lock(mutex_);
    bool ready = false;
    while (!ready && !SerialWritesAborted() && TClock::now() < deadline) {
      ready = changed_.wait_until(lock, std::min(deadline, TClock::now() + AbortSlice),
                                  [this] { return writeReady_ || lost_; });
    }
    if (SerialWritesAborted()) {
      result.Failure = TSerialErrorKind::WriteAborted;
      break;
    }
    if (!ready) {
      result.Failure = TSerialErrorKind::WriteTimedOut;
      break;
    }
  }
  if (result.Count < size && lost_) result.Failure = TSerialErrorKind::Vanished;
  if (result.Count > 0) {
    std::lock_guard lock(mutex_);
    liveness_.Wrote(std::string(data, result.Count), sentAt, ReceivedCount());
    if (!firstWrite_) firstWrite_ = TClock::now();
  }
  ORVEL_TRACE(Network, "write %zu of %zu", result.Count, size);
  return result;
}

std::optional<std::uint8_t> TNetworkSerialDevice::ModemStatus() {
  if (!serial_) return std::nullopt;
  std::lock_guard lock(mutex_);
  modemChanged_ = false;
  UpdateReadiness();
  return modemLines_.load();
}

void TNetworkSerialDevice::Close() {
  ORVEL_TRACE(Network, "close");
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    changed_.notify_all();
  }
  if (watch_.joinable()) watch_.join();
  if (io_) {
    {
      // Nothing more is read: a station that hung without anyone noticing yet would otherwise
      // hold a TLS close, which waits for its farewell, until it resumes.
      std::lock_guard lock(mutex_);
      socket_.ShutInput();
    }
    const int error = gensio_close(
        io_,
        [](struct gensio*, void* data) { static_cast<TNetworkSerialDevice*>(data)->CloseDone(); },
        this);
    // No bound of our own: gensio may still call into this object (events, answers to
    // line-setting requests) until it has closed. Its close is bounded by the socket's user
    // time-out, and a lost connection is reset rather than drained.
    std::unique_lock lock(mutex_);
    if (error == 0) changed_.wait(lock, [this] { return closeDone_; });
    lock.unlock();
    gensio_set_frdata(io_, freedNotice_.get());
    gensio_free(io_);
    lock.lock();
    changed_.wait(lock, [this] { return freed_; });
    requests_.Clear();
    // The last descriptor of the socket: its close ends the connection (with a reset when
    // it was lost).
    socket_.Close();
    lock.unlock();
    io_ = nullptr;
    serial_ = nullptr;
  }
  if (loop_.joinable()) {
    gensio_os_funcs_wake(os_, stopWaiter_);
    loop_.join();
  }
  if (stopWaiter_) {
    gensio_os_funcs_free_waiter(os_, stopWaiter_);
    stopWaiter_ = nullptr;
  }
  lost_ = true;
}

void TNetworkSerialDevice::Freed() {
  std::lock_guard lock(mutex_);
  freed_ = true;
  changed_.notify_all();
}

int TNetworkSerialDevice::GensioSocket() const {
  // gensio 2.6.2 hands out no descriptor for a TCP connection (GENSIO_CONTROL_IOD fails): the
  // socket is found by its two ports.
  char localPort[32] = "";
  gensiods size = sizeof localPort - 1;
  if (gensio_control(io_, GENSIO_CONTROL_DEPTH_FIRST, GENSIO_CONTROL_GET, GENSIO_CONTROL_LPORT,
                     localPort, &size) != 0) {
    return -1;
  }
  return TStationSocket::Find(static_cast<unsigned>(std::atoi(localPort)), address_.Port);
}

std::uint64_t TNetworkSerialDevice::ReceivedCount() const {
  if (!countsSocket_) return heardEvents_;
  return socket_.ReceivedBytes().value_or(0);
}

void TNetworkSerialDevice::Heard() {
  liveness_.Observe(TClock::now(), ReceivedCount());
}

std::vector<TUnconfirmedWrite> TNetworkSerialDevice::UnconfirmedWrites() const {
  std::lock_guard lock(mutex_);
  return liveness_.Unconfirmed();
}

TStationReport TNetworkSerialDevice::LossReport() const {
  std::lock_guard lock(mutex_);
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
  std::lock_guard lock(mutex_);
  const auto ago = TClock::now() - liveness_.LastHeard();
  return std::chrono::system_clock::now() -
         std::chrono::duration_cast<std::chrono::system_clock::duration>(ago);
}

std::optional<std::chrono::microseconds> TNetworkSerialDevice::LastRoundTrip() const {
  std::lock_guard lock(mutex_);
  // The growth that answers a question is seen only when the count is next looked at, up to
  // CountSlice late; the kernel times the connection's own acknowledgements.
  if (countsSocket_) return socket_.RoundTrip();
  const std::optional<TClock::duration> roundTrip = liveness_.LastRoundTrip();
  if (!roundTrip) return std::nullopt;
  return std::chrono::duration_cast<std::chrono::microseconds>(*roundTrip);
}

void TNetworkSerialDevice::Ask(std::unique_lock<std::mutex>& lock, const char* why) {
  if (liveness_.Asking()) return;
  liveness_.Asked(TClock::now(), ReceivedCount());
  lock.unlock();
  ORVEL_TRACE(Network, "asking the station for its speed %s", why);
  // A speed of 0 asks for the current one without changing it; every station answers that.
  // No callback: the answer is seen in the byte count, whichever request gensio gives it to.
  const bool sent = sergensio_baud(serial_, 0, nullptr, nullptr) == 0;
  if (!sent) MarkLost();
  lock.lock();
}

bool TNetworkSerialDevice::ProveAlive(TClock::duration bound) {
  if (lost_) return false;
  if (!serial_) return true;
  const TClock::time_point start = TClock::now();
  std::unique_lock lock(mutex_);
  Heard();
  if (liveness_.HeardWithin(start, WriteAskSpan)) return true;
  Ask(lock, "before a write");
  for (;;) {
    Heard();
    if (lost_ || closing_) break;
    if (!liveness_.Asking()) {
      ORVEL_TRACE(Network, "station answered before the write");
      return true;
    }
    if (TClock::now() >= start + bound) {
      lock.unlock();
      ORVEL_TRACE(Network, "station did not answer before the write: lost");
      MarkLost();
      return false;
    }
    // A write waits for this: the answer of a healthy station comes within a round trip.
    const auto slice = TClock::now() - start < FirstCountSpan ? FirstCountSlice : CountSlice;
    changed_.wait_until(lock, std::min(start + bound, TClock::now() + slice));
  }
  ORVEL_TRACE(Network, "waiting for the station ended: %s",
              lost_ ? "the connection was lost" : "the port closes");
  return false;
}

void TNetworkSerialDevice::WatchLiveness() {
  std::unique_lock lock(mutex_);
  while (!closing_ && !lost_) {
    const bool wasAsking = liveness_.Asking();
    Heard();
    const TClock::time_point now = TClock::now();
    if (wasAsking && !liveness_.Asking()) ORVEL_TRACE(Network, "station answered");
    const TStationLiveness::TStep step = liveness_.Next(now);
    if (step == TStationLiveness::TStep::Ask) {
      Ask(lock, "after its quiet time");
      continue;
    }
    if (step == TStationLiveness::TStep::Lost) {
      lock.unlock();
      ORVEL_TRACE(Network, "station did not answer within %lld s: lost",
                  static_cast<long long>(AnswerBound.count()));
      MarkLost();
      lock.lock();
      continue;
    }
    // Held reading has no end of its own to wait for; the resume notifies.
    const TClock::time_point due = std::min(liveness_.Due(), now + QuietBound);
    changed_.wait_until(lock, liveness_.Asking() ? std::min(due, now + CountSlice) : due);
  }
  if (liveness_.Asking()) {
    ORVEL_TRACE(Network, "waiting for the station ended: %s",
                lost_ ? "the connection was lost" : "the port closes");
  }
}

void TNetworkSerialDevice::NudgeQuietStation() {
  // A Telnet station greets at once; a TLS station waits for a greeting of TLS, and the client's
  // first Telnet request is too short for it to see that it is none. Two Telnet no-operations,
  // which a Telnet station ignores, make a TLS station hang up at once.
  const int fd = GensioSocket();
  if (!TStationSocket::UpAndSilent(fd)) return;
  static constexpr char NoOperations[] = {'\xff', '\xf1', '\xff', '\xf1'};
  if (::send(fd, NoOperations, sizeof NoOperations, MSG_NOSIGNAL | MSG_DONTWAIT) ==
      static_cast<ssize_t>(sizeof NoOperations)) {
    quietStation_ = true;
  }
}
