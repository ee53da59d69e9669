// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The main window's connection: its states, and one completion for every kind of open.
#include "app/ConnectionController.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <string_view>
#include <utility>

#include "app/StationMessages.h"
#include "app/TrustQuestion.h"
#include "controls/UserAction.h"
#include "protocol/TunerCommands.h"

namespace {

std::optional<ESerialPortException> Refusal(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ESerialPortException& error) {
    return error;
  } catch (...) {
    return std::nullopt;
  }
}

std::string Reason(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ESerialPortException& error) {
    return FailureText(error);
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "Unknown error";
  }
}

// Refusals of the station's certificate that no answer of the operator's settles here: another
// certificate than the one trusted, or a known-stations file that is not to be trusted itself
// (refused with the station's certificate but no kind of its own).
bool RefusedForGood(const ESerialPortException& refusal) {
  return refusal.Kind() == TSerialErrorKind::StationChanged ||
         (refusal.Kind() == TSerialErrorKind::Other && !refusal.Certificate().Station.empty());
}

// Failures that opening the port again cannot mend: the operator has to act first (change the
// address, the certificate, the station or the line settings).
bool RetryCannotHeal(const std::exception_ptr& failure) {
  const std::optional<ESerialPortException> refusal = Refusal(failure);
  if (!refusal) return false;
  if (refusal->Kind() == TSerialErrorKind::UnknownStation || RefusedForGood(*refusal)) return true;
  switch (refusal->Station().Failure) {
    case TStationFailure::ExpectsTls:
    case TStationFailure::NotTls:
    case TStationFailure::NotRfc2217:
    case TStationFailure::CertificateNotTrusted:
    case TStationFailure::ClientCertificateRequired:
    case TStationFailure::ClientCertificateRefused:
    case TStationFailure::ClientKeyUnusable:
    case TStationFailure::UnknownStation:
    case TStationFailure::StationChanged:
    case TStationFailure::SettingRefused:
    case TStationFailure::FileUnreadable:
      return true;
    default:
      return false;
  }
}

// A station lost for a reason that opening it again cannot mend, with the operator's words;
// null for any other loss.
std::exception_ptr LossCause(const std::string& station, const TStationReport& report) {
  if (report.Failure != TStationFailure::ExpectsTls) return nullptr;
  return std::make_exception_ptr(
      ESerialPortException(TSerialErrorKind::Vanished, HungUpText(station, report), {}, report));
}

std::string LocalTime(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

}  // namespace

TConnectionController::TConnectionController(TPort& port, TWindow& window, TClock& clock)
    : port_(port), window_(window), clock_(clock) {}

void TConnectionController::Open() {
  const bool retry = state_ == TConnectionState::WaitingToReconnect;
  clock_.Stop();
  const std::uint64_t attempt = ++attempt_;
  state_ = TConnectionState::Reaching;
  inBeginOpen_ = true;
  try {
    port_.BeginOpen([this, attempt, retry](std::exception_ptr failure) {
      if (attempt != attempt_) return;
      if (inBeginOpen_) {
        inBeginOpen_ = false;
        Complete(std::move(failure), retry);
      } else {
        RunUserAction([&] { Complete(std::move(failure), retry); });
      }
    });
  } catch (...) {
    inBeginOpen_ = false;
    if (state_ == TConnectionState::Reaching) state_ = TConnectionState::Closed;
    throw;
  }
  if (inBeginOpen_) {
    // The window stays free while the station is reached; Close Port gives the attempt up.
    inBeginOpen_ = false;
    window_.ShowConnecting();
  }
}

// Every open ends here, whether the port opened at once or a station was reached later.
void TConnectionController::Complete(std::exception_ptr failure, bool retry) {
  if (!failure) {
    state_ = TConnectionState::Probing;
    try {
      window_.ShowOpened();
      return;
    } catch (...) {
      if (!retry) {
        state_ = TConnectionState::Closed;
        throw;
      }
      failure = std::current_exception();
    }
  }
  Failed(failure, retry);
}

void TConnectionController::Failed(const std::exception_ptr& failure, bool retry) {
  if (retry) {
    window_.ShowClosed();
  } else {
    window_.ShowBeforeOpen();
  }
  state_ = TConnectionState::Closed;
  if (retrying_ && !RetryCannotHeal(failure)) {
    ScheduleRetry(Reason(failure));
    return;
  }
  StopRetrying();
  // Trusted, the station is opened again as the operator's click asked.
  if (Offer(failure, [this] { window_.OpenAgain(true); })) return;
  // The error box shows only the message: it carries the operator's words.
  if (const std::optional<ESerialPortException> station = Refusal(failure)) throw Worded(*station);
  std::rethrow_exception(failure);
}

bool TConnectionController::Offer(const std::exception_ptr& failure, std::function<void()> retry) {
  const std::optional<ESerialPortException> refusal = Refusal(failure);
  if (!refusal) return false;
  if (RefusedForGood(*refusal) && window_.TakeRefusal(*refusal)) return true;
  if (refusal->Kind() != TSerialErrorKind::UnknownStation || !window_.CanAskTrust()) return false;
  state_ = TConnectionState::AskingTrust;
  const std::uint64_t attempt = attempt_;
  TTrustQuestion question;
  question.Later = [this](std::function<void()> action) { clock_.Later(std::move(action)); };
  question.Ask = [this](const ESerialPortException& shown) { return window_.AskTrust(shown); };
  question.StillAsked = [this, attempt] {
    return state_ == TConnectionState::AskingTrust && attempt == attempt_;
  };
  question.Answered = [this] { state_ = TConnectionState::Closed; };
  question.NotPinned = [](const std::string& reason) {
    throw ESerialPortException(TSerialErrorKind::Other, reason);
  };
  question.Pinned = std::move(retry);
  question.Put(*refusal);
  return true;
}

void TConnectionController::Identified() {
  if (state_ != TConnectionState::Probing) return;
  state_ = TConnectionState::Connected;
  // Only a tuner that answered ends the back-off: a station that takes the connection and
  // drops it at once (a plain address to a TLS station) is tried less and less often.
  const bool was = retrying_;
  retrying_ = false;
  if (was) window_.ShowRetryReason("");
}

void TConnectionController::Cancel() {
  ++attempt_;
  state_ = TConnectionState::Closed;
  StopRetrying();
}

void TConnectionController::Fault() {
  const bool wasOpen = state_ == TConnectionState::Probing || state_ == TConnectionState::Connected;
  // What a lost station may still carry out, and why it was lost, are known only while its port
  // is open.
  std::string lost;
  std::exception_ptr cause;
  if (wasOpen && port_.IsStation()) {
    cause = LossCause(port_.Name(), port_.LossReport());
    if (!cause) lost = LossMessage(port_.Name(), port_.UnconfirmedWrites());
  }
  ++attempt_;
  clock_.Stop();
  window_.ShowClosed();
  state_ = TConnectionState::Closed;
  if (!lost.empty()) window_.Announce(lost);
  if (cause) {
    // Told once, as a failed open is, once the fault's event is over; no try after it.
    StopRetrying();
    clock_.Later([cause] { RunUserAction([&] { std::rethrow_exception(cause); }); });
    return;
  }
  if (!wasOpen || !window_.ReconnectsAutomatically()) {
    StopRetrying();
    return;
  }
  ScheduleRetry(lost.empty() ? port_.Name() + " closed" : lost);
}

void TConnectionController::ScheduleRetry(const std::string& reason) {
  // Every failed try waits by one rule: 1 s after the first, then twice the last, at most 10 s.
  retryDelay_ = retrying_ ? std::min(retryDelay_ * 2, LongestRetryDelay) : FirstRetryDelay;
  retrying_ = true;
  state_ = TConnectionState::WaitingToReconnect;
  window_.ShowConnecting();
  window_.ShowRetryReason("Opening again; the last try failed at " + LocalTime(clock_.Now()) +
                          ": " + reason);
  clock_.Start(retryDelay_, [this] { Retry(); });
}

void TConnectionController::Retry() {
  if (state_ != TConnectionState::WaitingToReconnect) return;
  try {
    window_.OpenAgain(false);
  } catch (...) {
    // The port is not back yet: not shown, as long as trying again may help.
    if (retrying_ && !RetryCannotHeal(std::current_exception())) {
      window_.ShowClosed();
      ScheduleRetry(Reason(std::current_exception()));
      return;
    }
    throw;
  }
}

void TConnectionController::StopRetrying() {
  const bool was = retrying_;
  retrying_ = false;
  retryDelay_ = std::chrono::milliseconds(0);
  clock_.Stop();
  if (was) window_.ShowRetryReason("");
  if (state_ == TConnectionState::WaitingToReconnect) {
    state_ = TConnectionState::Closed;
    window_.ShowClosed();
  }
}

std::string TConnectionController::LossMessage(const std::string& station,
                                               const std::vector<TUnconfirmedWrite>& unconfirmed) {
  std::string text = station + " stopped answering.";
  std::vector<std::string> commands;
  for (const TUnconfirmedWrite& write : unconfirmed) {
    // A write may hold several lines; each is a command of its own.
    std::size_t start = 0;
    while (start < write.Text.size()) {
      std::size_t end = write.Text.find_first_of("\r\n", start);
      if (end == std::string::npos) end = write.Text.size();
      const std::string_view line(write.Text.data() + start, end - start);
      // The tuner's own questions change nothing on it.
      const bool asks = line == TunerCommands::Probe || line == TunerCommands::StatusRequest ||
                        line == TunerCommands::Query;
      if (!line.empty() && !asks) {
        commands.push_back(std::string(line) + ", sent at " + LocalTime(write.SentAt));
      }
      start = end + 1;
    }
  }
  if (commands.empty()) return text;
  text += ' ';
  for (std::size_t i = 0; i < commands.size(); ++i) {
    if (i > 0) text += i + 1 == commands.size() ? ", and " : ", ";
    text += commands[i];
  }
  return text + ", may still reach the tuner if the station resumes.";
}
