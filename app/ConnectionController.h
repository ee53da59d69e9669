// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The life of the main window's connection: reaching the port, the question whether to trust a
// station, the tuner's identification, and opening again after a fault, with its back-off.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "serial/SerialDevice.h"
#include "serial/SerialPortException.h"

enum class TConnectionState : std::uint8_t {
  // No port open and no attempt under way.
  Closed,
  // A network station is being reached in the background.
  Reaching,
  // A station showed a certificate that nothing vouches for; the operator is to be asked.
  AskingTrust,
  // The port is open and the tuner has not identified itself yet.
  Probing,
  Connected,
  // The port closed through a fault; it is opened again when the back-off has passed.
  WaitingToReconnect
};

// The window's Open Port, Close Port, probe and fault handlers report here; the controller tells
// the window what to show and when to open again.
//
//   Closed / WaitingToReconnect --Open--> Reaching (station) or Probing (opened at once)
//   Reaching --opened--> Probing --Identified--> Connected
//   Reaching --unknown certificate--> AskingTrust --yes--> Open again; --no--> Closed
//   Reaching --failed--> WaitingToReconnect while retrying and retrying can heal it, else Closed
//   Probing / Connected --Fault--> WaitingToReconnect (Reconnect Automatically), else
//   Closed; any --Cancel--> Closed
class TConnectionController {
 public:
  // The port as the connection sees it.
  class TPort {
   public:
    virtual ~TPort() = default;
    // Opens the port the window has set up; `done` runs once with the failure (null when the
    // port is open), before this returns for a port that opens at once. Not run once given up.
    virtual void BeginOpen(std::function<void(std::exception_ptr failure)> done) = 0;
    // A network station, whose loss the operator is told of; a local port closes silently.
    virtual bool IsStation() const = 0;
    // The port as the operator knows it (its name in the port list).
    virtual std::string Name() const = 0;
    // What the station took and was not heard from after, oldest first; read before the
    // port is closed.
    virtual std::vector<TUnconfirmedWrite> UnconfirmedWrites() const = 0;
    // Why the station was lost, when it said so (Failure None otherwise); read before the port
    // is closed.
    virtual TStationReport LossReport() const = 0;
  };

  // The window as the connection sees it.
  class TWindow {
   public:
    virtual ~TWindow() = default;
    // Open Port's click again: after the operator trusted the station (`asClick`, the button's
    // latch with it), or as the next try of the reconnection.
    virtual void OpenAgain(bool asClick) = 0;
    // "Connecting..." while the station is reached or the next try waits; Close Port gives up.
    virtual void ShowConnecting() = 0;
    // The rest of Open Port once the port is open: the probe written and its timer started.
    virtual void ShowOpened() = 0;
    // The port closed and the window in the closed state.
    virtual void ShowClosed() = 0;
    // The buttons as they were before an operator's open that failed in the background.
    virtual void ShowBeforeOpen() = 0;
    // Why the connection is being opened again; empty when it is not.
    virtual void ShowRetryReason(const std::string& reason) = 0;
    // Tells the operator without stopping them: a lost station.
    virtual void Announce(const std::string& text) = 0;
    virtual bool ReconnectsAutomatically() const = 0;
    // Whether someone can be asked to trust a station whose certificate nothing vouches for;
    // when not, the refusal is shown as any failure is.
    virtual bool CanAskTrust() const = 0;
    // Whether to trust the station and connect.
    virtual bool AskTrust(const ESerialPortException& refusal) = 0;
    // Takes a refusal that no question settles (another certificate than the one trusted, a
    // known-stations file that cannot be trusted) in place of the error box; false: the box.
    virtual bool TakeRefusal(const ESerialPortException& refusal) = 0;
  };

  // The controller's time: the wall clock that the operator reads, one timer, and what runs once
  // the current event has been handled.
  class TClock {
   public:
    virtual ~TClock() = default;
    virtual std::chrono::system_clock::time_point Now() const = 0;
    // `tick` after `delay`, in place of a tick still waiting.
    virtual void Start(std::chrono::milliseconds delay, std::function<void()> tick) = 0;
    virtual void Stop() = 0;
    virtual void Later(std::function<void()> action) = 0;
  };

  // The first wait before opening again, doubled after every failed try up to the longest.
  static constexpr std::chrono::milliseconds FirstRetryDelay{1000};
  static constexpr std::chrono::milliseconds LongestRetryDelay{10000};

  TConnectionController(TPort& port, TWindow& window, TClock& clock);

  TConnectionState State() const { return state_; }
  // The wait before the next try, while waiting to reconnect.
  std::chrono::milliseconds RetryDelay() const { return retryDelay_; }

  // Open Port's click (or the next try, while waiting to reconnect). A failure found at once is
  // thrown; one found later is shown through the error display.
  void Open();
  // The tuner identified itself.
  void Identified();
  // Close Port or the probe's time-out: no more tries, any question dropped.
  void Cancel();
  // The open port failed or vanished: the window is closed, a station's loss told, and the port
  // opened again later if the operator asked for that and it may help.
  void Fault();
  // Reconnect Automatically was switched off.
  void StopRetrying();

  // "SHACK stopped answering. TUNE ON, sent at 21:03:41, may still reach the tuner if the station
  // resumes." Times in local time.
  static std::string LossMessage(const std::string& station,
                                 const std::vector<TUnconfirmedWrite>& unconfirmed);

 private:
  void Complete(std::exception_ptr failure, bool retry);
  void Failed(const std::exception_ptr& failure, bool retry);
  // Whether the failure is a refusal of the station's certificate that is taken care of here:
  // asked about later (`retry` runs on yes, unless the connection was closed meanwhile), or
  // taken by the window in place of the error box.
  bool Offer(const std::exception_ptr& failure, std::function<void()> retry);
  void ScheduleRetry(const std::string& reason);
  void Retry();

  TPort& port_;
  TWindow& window_;
  TClock& clock_;
  TConnectionState state_ = TConnectionState::Closed;
  // Counts the attempts and cancellations: a completion or an answer of an earlier one is late.
  std::uint64_t attempt_ = 0;
  // BeginOpen has not returned yet: a completion now belongs to the caller of Open.
  bool inBeginOpen_ = false;
  bool retrying_ = false;
  std::chrono::milliseconds retryDelay_{0};
};
