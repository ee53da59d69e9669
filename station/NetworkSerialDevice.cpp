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
#include "station/OperatorIdentity.h"
#include "station/StationLoop.h"

namespace {

using TClock = std::chrono::steady_clock;

// The speed, data size, parity and stop size have to be confirmed within this.
constexpr auto SettingsBound = std::chrono::seconds(3);
// A station in front of a pseudo-terminal never answers the flow-control and modem-line
// requests; the flow control is not waited for longer than this.
constexpr auto ControlBound = std::chrono::milliseconds(300);
// A raw TCP station that is busy says so and hangs up within this.
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
    refusal = device->connection_.Refusal();
    return nullptr;
  }
  return device;
}

TNetworkSerialDevice::TNetworkSerialDevice(TNetworkAddress address, TCancelFlag cancelled)
    : address_(std::move(address)),
      cancelled_(std::move(cancelled)),
      connection_(address_, {ConnectBound, TlsHintBound, BusyBound}, lost_,
                  [this] { return Cancelled(); }),
      pipe_(
          lost_, [this] { MarkLost(); }, [this](bool held) { watch_.Hold(held); }),
      watch_({QuietBound, AnswerBound, WriteAskSpan, WriteAskBound}, [this] { MarkLost(); }),
      negotiation_({SettingsBound, ControlBound}, [this](bool counts) { watch_.Heard(counts); }) {}

TNetworkSerialDevice::~TNetworkSerialDevice() {
  Close();
}

bool TNetworkSerialDevice::Cancelled() const {
  return (cancelled_ && cancelled_->load()) || SerialWritesAborted();
}

void TNetworkSerialDevice::Wake() {
  connection_.Wake();
  pipe_.Wake();
  watch_.Wake();
  negotiation_.Wake();
}

bool TNetworkSerialDevice::Connect(std::string& reason) {
  loop_ = TStationLoop::Get(reason);
  if (!loop_) return false;
  wakeId_ = loop_->Listen([this] { Wake(); });
  if (!connection_.Open(loop_->Os(), &Event, this, reason)) return false;
  pipe_.Attach(connection_.Io());
  // Over RFC 2217 a hung station (its kernel still acknowledging) is found by asking it.
  watch_.Start(loop_->Os(), connection_.Serial(), connection_.Socket());
  gensio_set_read_callback_enable(connection_.Io(), true);
  // A raw TCP station that is busy says so and hangs up at once.
  if (address_.Kind == TNetworkKind::Tcp && connection_.WaitLost(TClock::now() + BusyBound)) {
    reason = connection_.Classify(GE_REMCLOSE);
    return false;
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
    case GENSIO_EVENT_READ: {
      if (error != 0) {
        MarkLost();
        return 0;
      }
      ORVEL_TRACE(Network, "received %zu", *length);
      const auto* bytes = reinterpret_cast<const char*>(buffer);
      connection_.NoteWords(bytes, *length);
      watch_.Heard(true);
      pipe_.Received(bytes, *length);
      return 0;
    }
    case GENSIO_EVENT_WRITE_READY:
      pipe_.WriteReady();
      return 0;
    case GENSIO_EVENT_SER_MODEMSTATE:
      if (buffer && length && *length >= sizeof(unsigned)) {
        unsigned state = 0;
        std::memcpy(&state, buffer, sizeof state);
        const auto lines = static_cast<std::uint8_t>(state & 0xf0);
        ORVEL_TRACE(Network, "modem lines news 0x%02x", lines);
        watch_.Heard(true);
        pipe_.ModemNews(lines);
      }
      return 0;
    case GENSIO_EVENT_PRECERT_VERIFY:
      return connection_.CertificateShown();
    case GENSIO_EVENT_POSTCERT_VERIFY:
      return connection_.CertificateChecked(error);
    default:
      return GE_NOTSUP;
  }
}

bool TNetworkSerialDevice::WaitLost(TClock::time_point deadline) {
  return connection_.WaitLost(deadline);
}

void TNetworkSerialDevice::MarkLost() {
  if (!lost_.exchange(true)) ORVEL_TRACE(Network, "connection lost");
  connection_.Lost();
  Wake();
}

bool TNetworkSerialDevice::ApplyLineSettings(const TLineSettings& settings, TDeviceError& error) {
  std::string reason;
  if (ApplySettings(settings, reason)) return true;
  error =
      TDeviceError{lost_ ? TSerialErrorKind::Vanished : TSerialErrorKind::RefusedSetting, reason};
  error.Station = connection_.Refusal().Station;
  error.Station.SystemReason = reason;
  return false;
}

bool TNetworkSerialDevice::ApplySettings(const TLineSettings& settings, std::string& reason) {
  if (lost_) {
    reason = connection_.Classify(GE_REMCLOSE);
    return false;
  }
  sergensio* const serial = connection_.Serial();
  // Over raw TCP the station's own settings apply.
  if (!serial) return true;
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
      serial, wanted, settings.Dtr, settings.Rts, [this] { return lost_.load() || Cancelled(); });
  if (outcome.TooMany) {
    reason = "Unanswered: earlier requests";
    connection_.Fail(TStationFailure::RequestsUnanswered);
    return false;
  }
  if (outcome.SendError != 0) {
    reason = connection_.Classify(outcome.SendError);
    return false;
  }
  // A connection that ends once the line is confirmed is the receive thread's to find.
  if (outcome.Stopped) {
    if (outcome.LineAnswered) return true;
    reason = connection_.Classify(GE_REMCLOSE);
    return false;
  }
  static constexpr const char* Names[] = {"speed", "data size", "parity", "stop size",
                                          "flow control"};
  const TLineRequests::TJudgement judgement = outcome.Judgement;
  const auto index = static_cast<std::size_t>(judgement.Setting);
  if (judgement.Verdict == TLineRequests::TVerdict::Unconfirmed) {
    // A busy station's words may come while its hang-up is still on the way.
    if (std::string words = connection_.InUseWords(); !words.empty()) {
      reason = std::move(words);
      connection_.Fail(TStationFailure::InUse);
      return false;
    }
    reason = std::string("Unconfirmed: ") + Names[index];
    connection_.Fail(TStationFailure::SettingUnconfirmed, Names[index]);
    return false;
  }
  if (judgement.Verdict == TLineRequests::TVerdict::Refused) {
    const std::string value =
        judgement.Setting != TLineRequests::TSetting::Flow ? std::to_string(wanted[index]) : "";
    reason = std::string("Refused: ") + Names[index] + (value.empty() ? "" : " " + value);
    connection_.Fail(TStationFailure::SettingRefused, Names[index], value);
    return false;
  }
  return true;
}

void TNetworkSerialDevice::ApplyTimeouts(const TTimeouts& timeouts) {
  pipe_.ApplyTimeouts(timeouts);
}

void TNetworkSerialDevice::ApplyBufferSizes(std::uint32_t input, std::uint32_t) {
  // The station's driver queues are its own; the input queue's size still bounds what one
  // pass of the receive thread takes, as a local driver's queue does, so that a flooding
  // station cannot hand the receive handler a megabyte at a time.
  pipe_.ApplyInputQueue(input);
}

void TNetworkSerialDevice::PurgeInput() {
  pipe_.Purge();
  if (connection_.Serial() && !lost_) {
    sergensio_flush(connection_.Serial(), SERGENSIO_FLUSH_RCV_BUFFER);
  }
}

std::optional<std::size_t> TNetworkSerialDevice::BytesWaiting() {
  return pipe_.BytesWaiting();
}

TTransfer TNetworkSerialDevice::Read(char* buffer, std::size_t size) {
  return pipe_.Read(buffer, size);
}

TTransfer TNetworkSerialDevice::Write(const char* data, std::size_t size,
                                      std::chrono::milliseconds longestWait) {
  if (SerialWritesAborted()) return TTransfer{0, TSerialErrorKind::WriteAborted};
  // A command that a hung station would carry out whenever it resumes must not leave here.
  if (!watch_.ProveAlive(lost_)) return TTransfer{0, TSerialErrorKind::Vanished};
  const auto sentAt = std::chrono::system_clock::now();
  const TTransfer result = pipe_.Write(data, size, longestWait);
  if (result.Count > 0) watch_.Wrote(std::string(data, result.Count), sentAt);
  ORVEL_TRACE(Network, "write %zu of %zu", result.Count, size);
  return result;
}

std::optional<std::uint8_t> TNetworkSerialDevice::ModemStatus() {
  if (!connection_.Serial()) return std::nullopt;
  return pipe_.TakeModemLines();
}

void TNetworkSerialDevice::Close() {
  ORVEL_TRACE(Network, "close");
  watch_.Stop();
  connection_.Close();
  negotiation_.Clear();
  if (loop_) {
    loop_->Forget(wakeId_);
    loop_ = nullptr;
  }
  lost_ = true;
}

std::vector<TUnconfirmedWrite> TNetworkSerialDevice::UnconfirmedWrites() const {
  return watch_.Unconfirmed();
}

TStationReport TNetworkSerialDevice::LossReport() const {
  const std::optional<TClock::time_point> lostAt = connection_.LostAt();
  if (!lost_ || address_.Kind != TNetworkKind::Tcp || !lostAt) return {};
  std::optional<TClock::duration> writeToLoss;
  if (const std::optional<TClock::time_point> firstWrite = pipe_.FirstWrite()) {
    writeToLoss = *lostAt - *firstWrite;
  }
  if (!RefusedAsTls(connection_.FirstWords(), writeToLoss)) return {};
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
