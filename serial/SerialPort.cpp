// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The serial port component: properties, opening and closing, writing, the presence test
// and the port list.
#include "serial/SerialPort.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <limits>
#include <new>
#include <thread>
#include <utility>

#include "serial/ComThread.h"
#include "serial/NetworkPorts.h"
#include "serial/SerialPlatform.h"
#include "serial/UiHandOver.h"
#include "text/AsciiText.h"

namespace {

// The port is named as it may be shown: an address without its secrets.
std::string CannotConnect(const std::string& name, const std::string& reason) {
  return "Cannot connect to " + ShownPortName(name) + ". " + reason;
}

constexpr std::int32_t StandardBaudRates[] = {
    75,   110,   134,   150,   300,   600,    1200,   1800,   2400,   4800,   7200,
    9600, 14400, 19200, 38400, 57600, 115200, 128000, 230400, 256000, 460800, 921600};
static_assert(std::size(StandardBaudRates) == brCustom);

constexpr int ClosePolls = 500;
// However long the write time-outs allow, the caller (the window) waits no longer than this.
constexpr auto LongestWriteWait = std::chrono::milliseconds(2000);
// Below this Delay the presence test is skipped and the timer resolution is raised.
constexpr std::uint32_t ShortDelay = 50;

const char* const InvalidCombination = "Invalid data-width and stop-bits combination.";
const char* const InvalidLogFile = "Invalid log file name or access denied.";

ESerialPortException NotOpen(const std::string& portName) {
  return ESerialPortException(
      TSerialErrorKind::NotOpen,
      ShownPortName(portName) + " is not open. Serial port is not connected.");
}

// The locale's short date, a blank and its long time.
std::string DateTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[128];
  const std::size_t length = std::strftime(text, sizeof text, "%x %X", &local);
  return std::string(text, length);
}

}  // namespace

TSerialPort::TSerialPort() : TSerialPort(SystemSerialPlatform()) {}

TSerialPort::TSerialPort(std::shared_ptr<TSerialPlatform> platform)
    : platform_(std::move(platform)) {}

TSerialPort::~TSerialPort() {
  Close();
  // A forgotten thread still refers to this object until it has ended.
  threads_.Reap(-1, handOver_);
  const auto deadline = std::chrono::steady_clock::now() + AbandonedOpenBound;
  for (const std::shared_ptr<TPendingOpen>& pending : abandonedOpens_) {
    std::unique_lock lock(pending->Mutex);
    pending->Changed.wait_until(lock, deadline, [&] { return pending->Ended; });
  }
}

void TSerialPort::AbortWrites() noexcept {
  AbortSerialWrites();
}

void TSerialPort::SetUiHandOver(TUiHandOver* handOver) {
  handOver_ = handOver;
}

void TSerialPort::Open() {
  std::optional<TOpenAttempt> attempt = PrepareOpen();
  if (!attempt) return;
  TDeviceError error;
  std::unique_ptr<TSerialDevice> device =
      ReachDevice(*platform_, *attempt, LineSettings(), nullptr, error);
  FinishOpen(*attempt, std::move(device), error);
}

void TSerialPort::BeginOpen(TOpenDoneEvent done) {
  if (!IsNetworkAddress(TrimControls(DevicePathOf(PortName())))) {
    try {
      Open();
    } catch (...) {
      done(std::current_exception());
      return;
    }
    done(nullptr);
    return;
  }
  std::optional<TOpenAttempt> attempt = PrepareOpen();
  if (!attempt) {
    done(nullptr);
    return;
  }
  auto pending = std::make_shared<TPendingOpen>();
  pendingOpen_ = pending;
  // The thread never touches this object once the attempt is cancelled: it lets go of what it
  // reached by itself, so that a cancel need not wait for a slow station.
  auto reach = [this, pending, attempt = std::move(*attempt), platform = platform_,
                settings = LineSettings(), handOver = handOver_.load(),
                done = std::move(done)]() mutable {
    TDeviceError error;
    std::unique_ptr<TSerialDevice> device =
        ReachDevice(*platform, attempt, settings, pending->Cancelled, error);
    {
      std::lock_guard lock(pending->Mutex);
      pending->HandingOver = !*pending->Cancelled;
    }
    if (pending->HandingOver) {
      auto finish = [&] {
        if (*pending->Cancelled) return;
        pendingOpen_.reset();
        std::exception_ptr failure;
        try {
          FinishOpen(attempt, std::move(device), error);
        } catch (...) {
          failure = std::current_exception();
        }
        done(failure);
      };
      try {
        if (handOver) {
          handOver->Synchronize(finish);
        } else {
          finish();
        }
      } catch (...) {
        // The window's handler has nobody else to tell.
      }
      std::lock_guard lock(pending->Mutex);
      pending->HandingOver = false;
      pending->Changed.notify_all();
    }
    if (device) device->Close();
    device.reset();
    std::lock_guard lock(pending->Mutex);
    pending->Ended = true;
    pending->Changed.notify_all();
  };
  TDeviceError error;
  std::thread thread = platform_->StartThread(std::move(reach), error);
  if (!thread.joinable()) {
    pendingOpen_.reset();
    Close();
    done(std::make_exception_ptr(
        ESerialPortException(error.Kind, CannotConnect(attempt->Name, error.Message))));
    return;
  }
  thread.detach();
}

void TSerialPort::CancelOpen() {
  const std::shared_ptr<TPendingOpen> pending = std::exchange(pendingOpen_, nullptr);
  if (!pending) return;
  std::erase_if(abandonedOpens_, [](const std::shared_ptr<TPendingOpen>& abandoned) {
    std::lock_guard lock(abandoned->Mutex);
    return abandoned->Ended;
  });
  abandonedOpens_.push_back(pending);
  std::unique_lock lock(pending->Mutex);
  *pending->Cancelled = true;
  NotifyOpenCancelled();
  // A thread waiting to hand over waits for this thread: it is served here, and finds itself
  // cancelled.
  TUiHandOver* handOver = handOver_;
  while (pending->HandingOver) {
    lock.unlock();
    if (handOver) handOver->ProcessPendingEvents();
    lock.lock();
    pending->Changed.wait_for(lock, std::chrono::milliseconds(1));
  }
}

std::optional<TSerialPort::TOpenAttempt> TSerialPort::PrepareOpen() {
  CancelOpen();
  const std::string name = PortName();
  const TCommPort target = ::CommPortFromName(name);
  // Only a connection with a thread counts: one that Close forgot inside a handler still
  // names its port until that thread has ended, and may be opened again meanwhile.
  if (target == (threads_.Current() ? ConnectedPort() : spNone)) return std::nullopt;
  if (threads_.Current()) Close();
  // A thread that an earlier Close could not wait for may still hold the device.
  if (!TComThread::RunningFor(*this)) threads_.Reap(ClosePolls, handOver_);
  if (Delay() < ShortDelay) {
    platform_->RequestTimerResolution();
    timerRequested_ = true;
  }
  announcedCount_ = 0;
  threads_.BeginConnection();
  {
    std::lock_guard lock(textMutex_);
    entireBuffer_.clear();
  }
  const std::string trimmed(TrimControls(name));
  std::optional<TListedPort> listed = ListedPort(trimmed);
  std::string devicePath = listed ? listed->DevicePath : platform_->UnlistedDevicePath(trimmed);
  {
    std::lock_guard lock(textMutex_);
    presenceEntry_ = std::move(listed);
  }
  return TOpenAttempt{name, target, std::move(devicePath)};
}

std::unique_ptr<TSerialDevice> TSerialPort::ReachDevice(TSerialPlatform& platform,
                                                        const TOpenAttempt& attempt,
                                                        const TLineSettings& settings,
                                                        const TCancelFlag& cancelled,
                                                        TDeviceError& error) {
  std::unique_ptr<TSerialDevice> device = platform.OpenDevice(attempt.DevicePath, error, cancelled);
  // Settings refused while opening fail the open: a port left with whatever the previous
  // program set would talk at the wrong speed without telling anyone.
  if (device && !device->ApplyLineSettings(settings, error)) {
    device->Close();
    device.reset();
  }
  return device;
}

void TSerialPort::FinishOpen(const TOpenAttempt& attempt, std::unique_ptr<TSerialDevice> device,
                             const TDeviceError& failure) {
  const std::string& name = attempt.Name;
  const TCommPort target = attempt.Target;
  if (!device) {
    Close();
    TStationReport station = failure.Station;
    if (station.Failure != TStationFailure::None) station.Address = ShownPortName(name);
    throw ESerialPortException(failure.Kind, CannotConnect(name, failure.Message),
                               failure.Certificate, std::move(station));
  }
  TDeviceError error;
  const std::uint64_t generation = threads_.Generation();
  ApplyTimeouts(*device);
  ApplyBufferSizes(*device);
  TComThreadOwner& owner = *this;
  auto thread =
      std::make_shared<TComThread>(owner, *platform_, std::move(device), generation, priority_);
  threads_.Install(thread, target);
  try {
    if (target != spNone && OnConnect) OnConnect(this, target);
  } catch (...) {
    Close();
    throw;
  }
  // The OnConnect handler may have closed the port again.
  if (threads_.Current() != thread) return;
  // Cleared before the thread runs: its first pass may already find the port gone.
  const bool wasFaulted = faulted_.exchange(false);
  if (!thread->Start(error)) {
    faulted_ = wasFaulted;
    // The thread never ran: Close ends the connection here and releases the device.
    Close();
    throw ESerialPortException(error.Kind, CannotConnect(name, error.Message));
  }
}

void TSerialPort::Close() {
  // A thread forgotten earlier must leave a newer connection alone.
  const TComThread* caller = TComThread::RunningFor(*this);
  if (caller && !threads_.IsLatest(caller->Generation())) return;
  if (!caller) CancelOpen();
  ReleaseTimerResolution();
  announcedCount_ = 0;
  std::shared_ptr<TComThread> thread = threads_.Current();
  if (!thread) {
    threads_.EndConnection(threads_.Generation());
    return;
  }
  thread->Stop();
  if (!thread->Started()) {
    threads_.Forget(thread);
    thread->EndWithoutLoop();
  } else if (thread->IsCurrentThread()) {
    // The thread cannot wait for its own end.
    threads_.Forget(thread);
  } else if (thread->HandlerRunning()) {
    // The thread waits for a handler below this Close and cannot end before it returns; it
    // touches nothing meanwhile, so the device is let go of now and may be opened again at
    // once. The thread then ends by itself.
    thread->ReleaseDevice();
    threads_.Forget(thread);
  } else {
    threads_.WaitUntilDisconnected(ClosePolls, std::chrono::milliseconds(Delay()), handOver_);
    threads_.Forget(thread);
    threads_.Reap(0, handOver_);
  }
  lineStatus_ = 0;
}

std::uint32_t TSerialPort::SendString(const std::string& text) {
  const std::string name = PortName();
  std::shared_ptr<TComThread> thread = threads_.Current();
  if (!thread) throw NotOpen(name);
  const std::size_t length = std::min(text.size(), text.find('\0'));
  TTransfer result;
  sending_ = true;
  const bool open = thread->WithDevice(
      [&](TSerialDevice& device) { result = device.Write(text.data(), length, LongestWriteWait); });
  sending_ = false;
  if (!open) throw NotOpen(name);
  // A write that timed out, was refused or was stopped raises nothing: the count tells the
  // caller how much went out, and OnSend gets just that part.
  const std::size_t written = result.Count;
  try {
    if (written > 0 && OnSend) {
      OnSend(this, text.substr(0, written));
    } else {
      CheckPresence();
    }
  } catch (...) {
    sending_ = false;
    // The caller gets the one message that says the text did not get through; a second
    // fault handler failure has nothing to add to it.
    try {
      CheckPresence();
    } catch (...) {
    }
    throw NotOpen(name);
  }
  return static_cast<std::uint32_t>(written);
}

std::vector<TUnconfirmedWrite> TSerialPort::UnconfirmedWrites() const {
  std::vector<TUnconfirmedWrite> list;
  if (const std::shared_ptr<TComThread> thread = threads_.Current()) {
    thread->WithDevice([&](TSerialDevice& device) { list = device.UnconfirmedWrites(); });
  }
  return list;
}

TStationReport TSerialPort::LossReport() const {
  TStationReport report;
  if (const std::shared_ptr<TComThread> thread = threads_.Current()) {
    thread->WithDevice([&](TSerialDevice& device) { report = device.LossReport(); });
  }
  return report;
}

std::optional<std::chrono::system_clock::time_point> TSerialPort::LastHeard() const {
  std::optional<std::chrono::system_clock::time_point> heard;
  if (const std::shared_ptr<TComThread> thread = threads_.Current()) {
    thread->WithDevice([&](TSerialDevice& device) { heard = device.LastHeard(); });
  }
  return heard;
}

std::optional<std::chrono::microseconds> TSerialPort::LastRoundTrip() const {
  std::optional<std::chrono::microseconds> roundTrip;
  if (const std::shared_ptr<TComThread> thread = threads_.Current()) {
    thread->WithDevice([&](TSerialDevice& device) { roundTrip = device.LastRoundTrip(); });
  }
  return roundTrip;
}

void TSerialPort::ListPortNames(std::vector<std::string>& list) const {
  list.clear();
  for (TListedPort& port : platform_->ListPorts()) list.push_back(std::move(port.Name));
}

void TSerialPort::ListPorts(std::vector<std::string>& names,
                            std::vector<std::string>& devicePaths) const {
  names.clear();
  devicePaths.clear();
  for (TListedPort& port : platform_->ListPorts()) {
    names.push_back(std::move(port.Name));
    devicePaths.push_back(std::move(port.DevicePath));
  }
}

bool TSerialPort::IsPortListed(std::string_view name) const {
  // A network address stands for itself; whether its station is still there is the
  // connection's business (TSerialDevice::Lost).
  if (IsNetworkAddress(TrimControls(name))) return true;
  return ListedPort(name).has_value();
}

std::optional<TListedPort> TSerialPort::ListedPort(std::string_view name) const {
  const std::string upper = AsciiUpperCase(name);
  for (TListedPort& port : platform_->ListPorts()) {
    if (port.Name == upper) return std::move(port);
  }
  return std::nullopt;
}

TCommPort TSerialPort::CommPortFromName(std::string_view name) const {
  return ::CommPortFromName(name);
}

std::string TSerialPort::CommPortToName(TCommPort port) const {
  return ::CommPortToName(port, CustomPortName());
}

TBaudRate TSerialPort::BaudRateFromNumber(std::int32_t number) const {
  const auto* found = std::find(std::begin(StandardBaudRates), std::end(StandardBaudRates), number);
  return static_cast<TBaudRate>(found - std::begin(StandardBaudRates));
}

std::int32_t TSerialPort::BaudRateToNumber(TBaudRate rate) const {
  return rate < brCustom ? StandardBaudRates[rate] : customBaudRate_;
}

std::string TSerialPort::DevicePathOf(std::string_view name) const {
  const std::string trimmed(TrimControls(name));
  if (std::optional<TListedPort> port = ListedPort(trimmed)) return port->DevicePath;
  return platform_->UnlistedDevicePath(trimmed);
}

std::string TSerialPort::ListedNameOfDevice(std::string_view path) const {
  const std::string wanted(path);
  for (const TListedPort& port : platform_->ListPorts()) {
    if (platform_->SameDevice(wanted, port.DevicePath)) return port.Name;
  }
  return {};
}

TCommPort TSerialPort::Port() const {
  return ::CommPortFromName(PortName());
}

void TSerialPort::SetPort(TCommPort value) {
  {
    std::lock_guard lock(textMutex_);
    if (value == ::CommPortFromName(portName_)) return;
    portName_ = ::CommPortToName(value, customPortName_);
  }
  // The presence test looks for the port under its new name.
  LookAgain();
}

TBaudRate TSerialPort::BaudRate() const {
  return BaudRateFromNumber(baudNumber_);
}

void TSerialPort::SetBaudRate(TBaudRate value) {
  baudNumber_ = BaudRateToNumber(value);
  Reapply();
}

TDataWidth TSerialPort::DataWidth() const {
  return dataBits_ >= 5 && dataBits_ <= 7 ? static_cast<TDataWidth>(dataBits_ - 5) : dw8Bits;
}

void TSerialPort::SetDataWidth(TDataWidth value) {
  const std::uint8_t bits = value <= dw7Bits ? static_cast<std::uint8_t>(value + 5) : 8;
  if ((bits == 5 && stopBitsCode_ == sb2Bits) || (bits >= 6 && stopBitsCode_ == sb1_5Bits)) {
    throw ESerialPortException(TSerialErrorKind::InvalidSetting, InvalidCombination);
  }
  dataBits_ = bits;
  Reapply();
}

void TSerialPort::SetStopBits(TStopBits value) {
  if ((value == sb1_5Bits && dataBits_ >= 6) || (value == sb2Bits && dataBits_ == 5)) {
    throw ESerialPortException(TSerialErrorKind::InvalidSetting, InvalidCombination);
  }
  if (value <= sb2Bits) stopBitsCode_ = value;
  Reapply();
}

void TSerialPort::SetParity(TParityBits value) {
  if (value <= pbSpace) parityCode_ = value;
  Reapply();
}

void TSerialPort::SetInputBuffer(std::uint32_t value) {
  if (inputBuffer_ == value) return;
  inputBuffer_ = value;
  if (auto thread = threads_.Current()) {
    thread->WithDevice([this](TSerialDevice& device) { ApplyBufferSizes(device); });
  }
}

void TSerialPort::SetOutputBuffer(std::uint32_t value) {
  if (outputBuffer_ == value) return;
  outputBuffer_ = value;
  if (auto thread = threads_.Current()) {
    thread->WithDevice([this](TSerialDevice& device) { ApplyBufferSizes(device); });
  }
}

void TSerialPort::SetPriority(TThreadPriority value) {
  if (priority_ == value) return;
  priority_ = value;
  if (auto thread = threads_.Current()) thread->SetPriority(value);
}

std::string TSerialPort::CustomPortName() const {
  std::lock_guard lock(textMutex_);
  return customPortName_;
}

void TSerialPort::SetCustomPortName(std::string_view value) {
  {
    std::lock_guard lock(textMutex_);
    customPortName_ = std::string(TrimControls(value));
    if (::CommPortFromName(portName_) != spCustom || portName_ == customPortName_) return;
    portName_ = customPortName_;
  }
  LookAgain();
}

void TSerialPort::SetDelay(std::uint32_t value) {
  // A sleeping receive thread takes up a short Delay's polling at once.
  if (delay_.exchange(value) != value) LookAgain();
}

void TSerialPort::SetCustomBaudRate(std::int32_t value) {
  customBaudRate_ = value;
  if (BaudRate() != brCustom) return;
  baudNumber_ = value;
  Reapply();
}

std::string TSerialPort::LogFile() const {
  std::lock_guard lock(textMutex_);
  return logFile_;
}

void TSerialPort::SetLogFile(std::string_view value) {
  std::lock_guard lock(textMutex_);
  logFile_ = value;
}

void TSerialPort::SetAutoReceive(bool value) {
  if (autoReceive_ == value) return;
  autoReceive_ = value;
  announcedCount_ = 0;
}

std::string TSerialPort::PortName() const {
  std::lock_guard lock(textMutex_);
  return portName_;
}

std::string TSerialPort::LastReceived() const {
  std::lock_guard lock(textMutex_);
  return lastReceived_;
}

std::string TSerialPort::EntireBuffer() const {
  std::lock_guard lock(textMutex_);
  return entireBuffer_;
}

TLineSettings TSerialPort::LineSettings() const {
  TLineSettings settings;
  settings.BitsPerSecond = baudNumber_;
  settings.ParityCheck = parityCheck_;
  settings.OutxCtsFlow = hwFlowControl_ == hfRTSCTS;
  settings.OutxDsrFlow = hwFlowControl_ == hfDTRDSR;
  auto lineControl = [](bool handshake, bool raised) {
    if (handshake) return TLineControl::Handshake;
    return raised ? TLineControl::Raised : TLineControl::Lowered;
  };
  settings.Dtr = lineControl(hwFlowControl_ == hfDTRDSR, enableDTROnOpen_);
  settings.Rts = lineControl(hwFlowControl_ == hfRTSCTS, enableRTSOnOpen_);
  settings.DsrSensitivity = dsrSensitivity_;
  settings.TxContinueOnXoff = txContinueOnXoff_;
  settings.OutX = swFlowControl_ == sfXONXOFF;
  settings.InX = swFlowControl_ == sfXONXOFF;
  settings.ReplaceParityErrors = replaceParityErrors_;
  settings.DiscardNulls = discardNulls_;
  settings.XonLimit = xonLim_ != 0 ? xonLim_ : static_cast<std::uint16_t>(inputBuffer_ / 4);
  settings.XoffLimit = xoffLim_;
  settings.DataBits = dataBits_;
  settings.ParityCode = parityCode_;
  settings.StopBitsCode = stopBitsCode_;
  settings.XonChar = xonChar_;
  settings.XoffChar = xoffChar_;
  settings.ErrorChar = errorChar_;
  settings.EofChar = eofChar_;
  settings.EvtChar = evtChar_;
  return settings;
}

bool TSerialPort::ApplyLineSettings(TSerialDevice& device, TDeviceError& error) {
  return device.ApplyLineSettings(LineSettings(), error);
}

void TSerialPort::ApplyTimeouts(TSerialDevice& device) {
  device.ApplyTimeouts(timeouts_);
}

void TSerialPort::ApplyBufferSizes(TSerialDevice& device) {
  device.ApplyBufferSizes(inputBuffer_, outputBuffer_);
}

void TSerialPort::PurgeInput() {
  if (auto thread = threads_.Current()) {
    thread->WithDevice([](TSerialDevice& device) { device.PurgeInput(); });
  }
}

void TSerialPort::Reapply() {
  std::shared_ptr<TComThread> thread = threads_.Current();
  if (!thread) return;
  PurgeInput();
  bool accepted = true;
  TDeviceError error;
  thread->WithDevice([&](TSerialDevice& device) { accepted = ApplyLineSettings(device, error); });
  if (!accepted) Close();
}

std::uint64_t TSerialPort::ReceivePasses() const {
  const std::shared_ptr<TComThread> thread = threads_.Current();
  return thread ? thread->Passes() : 0;
}

bool TSerialPort::ReceiveThreadAsleep() const {
  const std::shared_ptr<TComThread> thread = threads_.Current();
  return thread && thread->Asleep();
}

bool TSerialPort::ChecksPresence() const {
  return Delay() >= ShortDelay;
}

std::optional<TListedPort> TSerialPort::PresenceEntry() const {
  std::lock_guard lock(textMutex_);
  return presenceEntry_;
}

void TSerialPort::CheckPresence() {
  if (!ChecksPresence()) return;
  // Once the port is closed there is nothing left to declare faulted: without this a failing
  // handler would report the same vanished port twice.
  const TComThread* caller = TComThread::RunningFor(*this);
  const std::shared_ptr<TComThread> current = threads_.Current();
  if (caller ? current.get() != caller : !current) return;
  bool lost = false;
  current->WithDevice([&](TSerialDevice& device) { lost = device.Lost(); });
  if (!lost) {
    const std::string name = CommPortToName(Port());
    std::optional<TListedPort> entry;
    {
      std::lock_guard lock(textMutex_);
      entry = presenceEntry_;
    }
    // Checking the open port's own entry costs the same whatever the number of ports; only
    // when that entry has gone or changed is the whole list read.
    const bool ownName = entry && entry->Name == AsciiUpperCase(name);
    if (ownName && platform_->IsStillListed(*entry)) return;
    if (IsNetworkAddress(TrimControls(name))) return;
    // A listed name is present, whichever device it leads to by now: a port that works stays
    // open. An unplugged adapter that another one replaced at once has hung up (Lost above).
    if (std::optional<TListedPort> listed = ListedPort(name)) {
      std::lock_guard lock(textMutex_);
      presenceEntry_ = std::move(listed);
      return;
    }
  }
  faulted_ = true;
  try {
    if (caller) {
      // A Close on the user-interface thread (a write that found the fault first) may have
      // begun while this waited for its turn: the port is then reported once, not twice.
      Deliver(static_cast<bool>(OnFault), [this, caller] {
        if (OnFault && !caller->StopRequested()) OnFault(this, ConnectedPort());
      });
    } else if (OnFault) {
      OnFault(this, ConnectedPort());
    }
  } catch (...) {
    Close();
    throw;
  }
  Close();
}

void TSerialPort::WriteLogEntry(const std::string& text) {
  const std::string path = LogFile();
  const std::string entry = logDateTime_ ? DateTimeText() + " " + text + "\r\n" : text;
  std::FILE* file = std::fopen(path.c_str(), "abe");
  if (!file) throw ESerialPortException(TSerialErrorKind::LogFile, InvalidLogFile);
  bool written = std::fwrite(entry.data(), 1, entry.size(), file) == entry.size();
  written = std::fflush(file) == 0 && written;
  written = std::fclose(file) == 0 && written;
  if (!written) throw ESerialPortException(TSerialErrorKind::LogFile, InvalidLogFile);
}

void TSerialPort::Deliver(bool assigned, const std::function<void()>& call) {
  // An event without a handler needs no hand-over: closing never waits on the user-interface
  // thread for nothing (at program exit it may no longer serve hand-overs).
  if (!assigned) return;
  TUiHandOver* handOver = handOver_;
  if (!synchronizeEvents_ || !handOver || handOver->InUiThread()) {
    call();
    return;
  }
  // A Close waiting on the user-interface thread has to serve this hand-over.
  threads_.Wake();
  TComThread* caller = TComThread::RunningFor(*this);
  handOver->Synchronize([&] {
    TComThread::THandlerMark mark(caller);
    call();
  });
}

void TSerialPort::DeliverChunk(const std::string& chunk) {
  {
    std::lock_guard lock(textMutex_);
    lastReceived_ = chunk;
    if (keepEntireBuffer_) {
      try {
        entireBuffer_ += chunk;
      } catch (const std::bad_alloc&) {
        entireBuffer_.clear();
        entireBuffer_.shrink_to_fit();
      }
    }
  }
  Deliver(static_cast<bool>(OnReceive), [this, &chunk] {
    if (OnReceive) OnReceive(this, chunk);
  });
  if (logInput_) WriteLogEntry(chunk);
}

void TSerialPort::AnnounceWaiting(std::size_t count) {
  const auto announced = static_cast<std::uint32_t>(
      std::min<std::size_t>(count, std::numeric_limits<std::uint32_t>::max()));
  if (announced <= announcedCount_) return;
  announcedCount_ = announced;
  Deliver(static_cast<bool>(OnReceive), [this] {
    if (OnReceive) OnReceive(this, std::string());
  });
}

void TSerialPort::ReportLineStatus(std::optional<std::uint8_t> modemStatus) {
  TLineStatusSet set;
  if (modemStatus) {
    if (*modemStatus & ModemCts) set.Include(lsCTS);
    if (*modemStatus & ModemDsr) set.Include(lsDSR);
    if (*modemStatus & ModemRing) set.Include(lsRING);
    if (*modemStatus & ModemRlsd) set.Include(lsRLSD);
  }
  if (set.Bits() == lineStatus_) return;
  lineStatus_ = set.Bits();
  Deliver(static_cast<bool>(OnLineStatusChange), [this] {
    if (OnLineStatusChange) OnLineStatusChange(this, LineStatus());
  });
}

void TSerialPort::AnnounceDisconnect(std::uint64_t generation) {
  if (!threads_.IsLatest(generation) || ConnectedPort() == spNone) return;
  Deliver(static_cast<bool>(OnDisconnect), [this] {
    const TCommPort port = ConnectedPort();
    if (port != spNone && OnDisconnect) OnDisconnect(this, port);
  });
}

void TSerialPort::EndConnection(std::uint64_t generation) {
  threads_.EndConnection(generation);
}

void TSerialPort::LookAgain() {
  if (auto thread = threads_.Current()) thread->LookAgain();
}

void TSerialPort::ReleaseTimerResolution() {
  if (timerRequested_.exchange(false)) platform_->ReleaseTimerResolution();
}
