// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The serial port component: opens a port by name, applies the line settings, writes text,
// lists the ports present and reports reception, modem lines and faults through its events.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/ComThreadOwner.h"
#include "serial/CommPort.h"
#include "serial/ReceiveThreads.h"
#include "serial/SerialDevice.h"
#include "serial/SerialPlatform.h"
#include "serial/SerialPortException.h"

class TUiHandOver;

// clang-format off
enum TBaudRate : std::uint8_t {
  br000075, br000110, br000134, br000150, br000300, br000600, br001200, br001800, br002400,
  br004800, br007200, br009600, br014400, br019200, br038400, br057600, br115200, br128000,
  br230400, br256000, br460800, br921600, brCustom
};
enum TDataWidth : std::uint8_t { dw5Bits, dw6Bits, dw7Bits, dw8Bits };
enum TStopBits : std::uint8_t { sb1Bit, sb1_5Bits, sb2Bits };
enum TParityBits : std::uint8_t { pbNone, pbOdd, pbEven, pbMark, pbSpace };
enum THwFlowControl : std::uint8_t { hfNONE, hfDTRDSR, hfRTSCTS };
enum TSwFlowControl : std::uint8_t { sfNONE, sfXONXOFF };
enum TThreadPriority : std::uint8_t {
  tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical
};
// clang-format on
enum TLineStatus : std::uint8_t { lsCTS, lsDSR, lsRING, lsRLSD };

// A set of TLineStatus in one byte: bit 1 << value for each member.
class TLineStatusSet {
 public:
  constexpr TLineStatusSet() = default;
  constexpr explicit TLineStatusSet(std::uint8_t bits) : bits_(bits) {}
  constexpr TLineStatusSet(std::initializer_list<TLineStatus> members) {
    for (TLineStatus member : members) bits_ |= Bit(member);
  }
  constexpr bool Contains(TLineStatus member) const { return (bits_ & Bit(member)) != 0; }
  constexpr void Include(TLineStatus member) { bits_ |= Bit(member); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr std::uint8_t Bits() const { return bits_; }
  constexpr bool operator==(const TLineStatusSet&) const = default;

 private:
  static constexpr std::uint8_t Bit(TLineStatus member) {
    return static_cast<std::uint8_t>(1u << member);
  }
  std::uint8_t bits_ = 0;
};

class TSerialPort;
using TSendReceiveEvent = std::function<void(TSerialPort* Sender, const std::string& Buffer)>;
using TConnectEvent = std::function<void(TSerialPort* Sender, TCommPort Port)>;
using TLineStatusEvent = std::function<void(TSerialPort* Sender, TLineStatusSet LineStatus)>;
// What Open would have raised, or null when the port is open.
using TOpenDoneEvent = std::function<void(std::exception_ptr failure)>;

// Meant for the user-interface thread; the receive thread (TComThread) reads the settings and
// writes the state while a port is open. Events are handed to the user-interface thread
// through the plugged-in TUiHandOver; the receive thread waits until each handler returns.
class TSerialPort final : private TComThreadOwner {
 public:
  // On this system's own serial devices.
  TSerialPort();
  // On the devices and port list of `platform`.
  explicit TSerialPort(std::shared_ptr<TSerialPlatform> platform);
  // Closes like Close and waits for every receive thread this object started to end.
  ~TSerialPort() override;
  TSerialPort(const TSerialPort&) = delete;
  TSerialPort& operator=(const TSerialPort&) = delete;

  // Not owned; null runs the events on the receive thread.
  void SetUiHandOver(TUiHandOver* handOver);

  void Open();
  // Open for a window that must not wait: a network station is reached on a thread of its
  // own while the caller goes on, and `done` then runs through the hand-over as an event does
  // (after OnConnect). Any other port opens at once, as Open does, and `done` runs before
  // BeginOpen returns. Close (or a later Open) gives up the attempt; `done` is then not run.
  void BeginOpen(TOpenDoneEvent done);
  // A station is being reached for BeginOpen.
  bool Opening() const { return static_cast<bool>(pendingOpen_); }
  // Never throws.
  void Close();
  // Writes the text up to its first NUL byte; the count written. Each write waits at most the
  // write time-out and never longer than 2 s; what has not gone out by then is dropped and
  // left out of the count (0 when the device refuses or takes nothing), with no exception.
  std::uint32_t SendString(const std::string& text);
  // Every waiting and later write of every port ends at once with what it has written, for
  // good: for the program's end. Safe in a signal handler.
  static void AbortWrites() noexcept;
  void ListPortNames(std::vector<std::string>& list) const;
  // The same names with the device of each, from one look at the system.
  void ListPorts(std::vector<std::string>& names, std::vector<std::string>& devicePaths) const;
  bool IsPortListed(std::string_view name) const;
  TCommPort CommPortFromName(std::string_view name) const;
  std::string CommPortToName(TCommPort port) const;
  TBaudRate BaudRateFromNumber(std::int32_t number) const;
  std::int32_t BaudRateToNumber(TBaudRate rate) const;
  // The device a port name opens (a listed port's device, else /dev/ and the name).
  std::string DevicePathOf(std::string_view name) const;
  // The listed name of the port behind a device path (by-id links included); empty if none.
  std::string ListedNameOfDevice(std::string_view path) const;

  // Published properties.
  TCommPort Port() const;
  void SetPort(TCommPort value);
  TBaudRate BaudRate() const;
  void SetBaudRate(TBaudRate value);
  TDataWidth DataWidth() const;
  void SetDataWidth(TDataWidth value);
  TStopBits StopBits() const { return static_cast<TStopBits>(stopBitsCode_); }
  void SetStopBits(TStopBits value);
  TParityBits Parity() const { return static_cast<TParityBits>(parityCode_); }
  void SetParity(TParityBits value);
  bool EnableDTROnOpen() const { return enableDTROnOpen_; }
  void SetEnableDTROnOpen(bool value) { ChangeLineSetting(enableDTROnOpen_, value); }
  bool EnableRTSOnOpen() const { return enableRTSOnOpen_; }
  void SetEnableRTSOnOpen(bool value) { ChangeLineSetting(enableRTSOnOpen_, value); }
  THwFlowControl HwFlowControl() const { return hwFlowControl_; }
  void SetHwFlowControl(THwFlowControl value) { ChangeLineSetting(hwFlowControl_, value); }
  TSwFlowControl SwFlowControl() const { return swFlowControl_; }
  void SetSwFlowControl(TSwFlowControl value) { ChangeLineSetting(swFlowControl_, value); }
  char XonChar() const { return xonChar_; }
  void SetXonChar(char value) { ChangeLineSetting(xonChar_, value); }
  char XoffChar() const { return xoffChar_; }
  void SetXoffChar(char value) { ChangeLineSetting(xoffChar_, value); }
  std::uint16_t XonLim() const { return xonLim_; }
  void SetXonLim(std::uint16_t value) { ChangeLineSetting(xonLim_, value); }
  std::uint16_t XoffLim() const { return xoffLim_; }
  void SetXoffLim(std::uint16_t value) { ChangeLineSetting(xoffLim_, value); }
  bool ParityCheck() const { return parityCheck_; }
  void SetParityCheck(bool value) { ChangeLineSetting(parityCheck_, value); }
  bool ReplaceParityErrors() const { return replaceParityErrors_; }
  void SetReplaceParityErrors(bool value) { ChangeLineSetting(replaceParityErrors_, value); }
  bool DiscardNulls() const { return discardNulls_; }
  void SetDiscardNulls(bool value) { ChangeLineSetting(discardNulls_, value); }
  bool DsrSensitivity() const { return dsrSensitivity_; }
  void SetDsrSensitivity(bool value) { ChangeLineSetting(dsrSensitivity_, value); }
  bool TXContinueOnXoff() const { return txContinueOnXoff_; }
  void SetTXContinueOnXoff(bool value) { ChangeLineSetting(txContinueOnXoff_, value); }
  char ErrorChar() const { return errorChar_; }
  void SetErrorChar(char value) { ChangeLineSetting(errorChar_, value); }
  char EofChar() const { return eofChar_; }
  void SetEofChar(char value) { ChangeLineSetting(eofChar_, value); }
  char EvtChar() const { return evtChar_; }
  void SetEvtChar(char value) { ChangeLineSetting(evtChar_, value); }
  // The five time-outs take effect at the next Open.
  std::uint32_t ReadIntervalTimeout() const { return timeouts_.ReadInterval; }
  void SetReadIntervalTimeout(std::uint32_t value) { timeouts_.ReadInterval = value; }
  std::uint32_t ReadTotalTimeoutMultiplier() const { return timeouts_.ReadTotalMultiplier; }
  void SetReadTotalTimeoutMultiplier(std::uint32_t value) { timeouts_.ReadTotalMultiplier = value; }
  std::uint32_t ReadTotalTimeoutConstant() const { return timeouts_.ReadTotalConstant; }
  void SetReadTotalTimeoutConstant(std::uint32_t value) { timeouts_.ReadTotalConstant = value; }
  std::uint32_t WriteTotalTimeoutMultiplier() const { return timeouts_.WriteTotalMultiplier; }
  void SetWriteTotalTimeoutMultiplier(std::uint32_t value) {
    timeouts_.WriteTotalMultiplier = value;
  }
  std::uint32_t WriteTotalTimeoutConstant() const { return timeouts_.WriteTotalConstant; }
  void SetWriteTotalTimeoutConstant(std::uint32_t value) { timeouts_.WriteTotalConstant = value; }
  std::uint32_t InputBuffer() const { return inputBuffer_; }
  void SetInputBuffer(std::uint32_t value);
  std::uint32_t OutputBuffer() const { return outputBuffer_; }
  void SetOutputBuffer(std::uint32_t value);
  TThreadPriority Priority() const { return priority_; }
  void SetPriority(TThreadPriority value);
  std::uint32_t Delay() const { return delay_; }
  void SetDelay(std::uint32_t value);
  std::uint32_t Interval() const { return delay_; }
  void SetInterval(std::uint32_t value) { SetDelay(value); }
  std::string CustomPortName() const;
  void SetCustomPortName(std::string_view value);
  std::int32_t CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(std::int32_t value);
  bool LogInput() const { return logInput_; }
  void SetLogInput(bool value) { logInput_ = value; }
  bool LogDateTime() const { return logDateTime_; }
  void SetLogDateTime(bool value) { logDateTime_ = value; }
  std::string LogFile() const;
  void SetLogFile(std::string_view value);
  bool AutoReceive() const { return autoReceive_; }
  void SetAutoReceive(bool value);
  bool KeepEntireBuffer() const { return keepEntireBuffer_; }
  void SetKeepEntireBuffer(bool value) { keepEntireBuffer_ = value; }
  // Stored for the owner; nothing here reads them.
  std::string NewLine() const { return newLine_; }
  void SetNewLine(std::string_view value) { newLine_ = value; }
  std::int32_t MaxLineLength() const { return maxLineLength_; }
  void SetMaxLineLength(std::int32_t value) { maxLineLength_ = value; }

  // Public state.
  std::string PortName() const;
  bool SynchronizeEvents() const { return synchronizeEvents_; }
  void SetSynchronizeEvents(bool value) { synchronizeEvents_ = value; }
  TCommPort ConnectedPort() const { return threads_.ConnectedPort(); }
  bool Faulted() const { return faulted_; }
  // What a network station took but was not heard from after, oldest first: text that may
  // still reach the tuner should the station resume. Meant for OnFault; empty once the port
  // is closed, and for local ports.
  std::vector<TUnconfirmedWrite> UnconfirmedWrites() const;
  // Why a network station was lost, when its own bytes told (a raw address to a station that
  // speaks TLS); Failure None otherwise. Meant for OnFault, as UnconfirmedWrites.
  TStationReport LossReport() const;
  // For an open network port: when the station was last heard from, and the connection's round
  // trip as the kernel measures it (without a descriptor of the socket: how long the last
  // question whether it is still there took to be answered). Empty for local ports and while
  // closed.
  std::optional<std::chrono::system_clock::time_point> LastHeard() const;
  std::optional<std::chrono::microseconds> LastRoundTrip() const;
  bool Sending() const { return sending_; }
  bool Receiving() const { return receiving_; }
  TLineStatusSet LineStatus() const { return TLineStatusSet(lineStatus_); }
  std::string LastReceived() const;
  std::string EntireBuffer() const;
  std::uint32_t AnnouncedCount() const { return announcedCount_; }
  // Whether Open holds a 1 ms timer resolution request that Close has to release.
  bool HoldsTimerResolution() const { return timerRequested_; }
  // The settings the device is given at the next application.
  TLineSettings LineSettings() const;
  // The open port's receive thread: the passes it has made, and whether it sleeps until the
  // port has something to show. For tests and benchmarks, which wait on these instead of on
  // the clock.
  std::uint64_t ReceivePasses() const;
  bool ReceiveThreadAsleep() const;

  // Assigned while no port is open (or from a handler): the receive thread reads them. It reads
  // OnLineStatusChange only when the modem lines change, which the next pass sees whenever the
  // handler was assigned.
  TSendReceiveEvent OnReceive, OnSend;
  TConnectEvent OnConnect, OnDisconnect, OnFault;
  TLineStatusEvent OnLineStatusChange;

 private:
  // The receive thread's view of this object.
  std::uint32_t PassDelay() const override { return delay_; }
  bool ReadsChunks() const override { return autoReceive_; }
  bool ChecksPresence() const override;
  std::optional<TListedPort> PresenceEntry() const override;
  void SetReceiving(bool receiving) override { receiving_ = receiving; }
  void DeliverChunk(const std::string& chunk) override;
  void AnnounceWaiting(std::size_t count) override;
  void ReportLineStatus(std::optional<std::uint8_t> modemStatus) override;
  void CheckPresence() override;
  void AnnounceDisconnect(std::uint64_t generation) override;
  void EndConnection(std::uint64_t generation) override;

  // What Open decided before reaching for the device.
  struct TOpenAttempt {
    std::string Name;
    TCommPort Target = spNone;
    std::string DevicePath;
  };
  // One station being reached for BeginOpen, shared with the thread that reaches it.
  struct TPendingOpen {
    std::shared_ptr<std::atomic<bool>> Cancelled = std::make_shared<std::atomic<bool>>(false);
    std::mutex Mutex;
    std::condition_variable Changed;
    // The thread hands the result over and waits for the user-interface thread to take it.
    bool HandingOver = false;
    // The thread has let go of what it reached.
    bool Ended = false;
  };
  // How long the destructor waits for given-up attempts to let go of their stations.
  static constexpr std::chrono::seconds AbandonedOpenBound{1};
  // Closes what is open; nothing when the port is already open on the target.
  std::optional<TOpenAttempt> PrepareOpen();
  // The device with the line settings applied, or null with the reason; on any thread.
  static std::unique_ptr<TSerialDevice> ReachDevice(TSerialPlatform& platform,
                                                    const TOpenAttempt& attempt,
                                                    const TLineSettings& settings,
                                                    const TCancelFlag& cancelled,
                                                    TDeviceError& error);
  void FinishOpen(const TOpenAttempt& attempt, std::unique_ptr<TSerialDevice> device,
                  const TDeviceError& error);
  void CancelOpen();
  bool ApplyLineSettings(TSerialDevice& device, TDeviceError& error);
  void ApplyTimeouts(TSerialDevice& device);
  void ApplyBufferSizes(TSerialDevice& device);
  void PurgeInput();
  // The listed port of that name, letter case ignored.
  std::optional<TListedPort> ListedPort(std::string_view name) const;
  void WriteLogEntry(const std::string& text);

  template <typename T>
  void ChangeLineSetting(T& field, T value) {
    if (field == value) return;
    field = value;
    Reapply();
  }
  void Reapply();
  // Runs an event by the delivery rule: on the user-interface thread when one is plugged in
  // and SynchronizeEvents is set, else on the calling thread; nothing when `assigned` (the
  // event's handler as the receive thread sees it) is false. `call` tests the handler again.
  void Deliver(bool assigned, const std::function<void()>& call);
  void ReleaseTimerResolution();
  // A sleeping receive thread looks at the port again: what its presence test asks changed.
  void LookAgain();

  const std::shared_ptr<TSerialPlatform> platform_;
  std::atomic<TUiHandOver*> handOver_ = nullptr;

  // Held by the user-interface thread only.
  std::int32_t baudNumber_ = 4800;
  std::uint8_t dataBits_ = 8;
  std::uint8_t stopBitsCode_ = 0;
  std::uint8_t parityCode_ = 0;
  bool enableDTROnOpen_ = true;
  bool enableRTSOnOpen_ = true;
  THwFlowControl hwFlowControl_ = hfNONE;
  TSwFlowControl swFlowControl_ = sfNONE;
  char xonChar_ = 17;
  char xoffChar_ = 19;
  std::uint16_t xonLim_ = 0;
  std::uint16_t xoffLim_ = 1;
  bool parityCheck_ = false;
  bool replaceParityErrors_ = false;
  bool discardNulls_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  char errorChar_ = 0;
  char eofChar_ = 26;
  char evtChar_ = 26;
  TTimeouts timeouts_{0xFFFFFFFFu, 0, 0, 100, 1000};
  std::uint32_t inputBuffer_ = 4096;
  std::uint32_t outputBuffer_ = 4096;
  TThreadPriority priority_ = tpNormal;
  std::int32_t customBaudRate_ = 0;
  std::string newLine_ = "\r\n";
  std::int32_t maxLineLength_ = 0;

  // Read by the receive thread on every pass.
  std::atomic<std::uint32_t> delay_ = 100;
  std::atomic<bool> logInput_ = false;
  std::atomic<bool> logDateTime_ = false;
  std::atomic<bool> autoReceive_ = true;
  std::atomic<bool> keepEntireBuffer_ = false;
  std::atomic<bool> synchronizeEvents_ = true;

  // Written by either thread.
  std::atomic<bool> faulted_ = false;
  std::atomic<bool> sending_ = false;
  std::atomic<bool> receiving_ = false;
  std::atomic<std::uint8_t> lineStatus_ = 0;
  std::atomic<std::uint32_t> announcedCount_ = 0;
  std::atomic<bool> timerRequested_ = false;

  // Texts that both threads touch.
  mutable std::mutex textMutex_;
  std::string portName_;
  std::string customPortName_ = std::string(DefaultCustomPortName);
  std::string logFile_;
  std::string lastReceived_;
  std::string entireBuffer_;
  // The list entry that the open port came from: while it stands, the port is listed, and
  // the presence test need not read the whole list.
  std::optional<TListedPort> presenceEntry_;

  TReceiveThreads threads_;
  // Held by the user-interface thread only.
  std::shared_ptr<TPendingOpen> pendingOpen_;
  // Attempts given up whose threads may still be closing their connection: the program must not
  // end under them.
  std::vector<std::shared_ptr<TPendingOpen>> abandonedOpens_;
};
