// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The main window's connection driven through its states with a port, a window and a clock that
// the test plays: cancels, the trust question, faults, the reconnection's back-off and its end.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <filesystem>
#include <optional>

#include "ConnectionController.h"
#include "StationPins.h"
#include "UserAction.h"

namespace {

using namespace std::chrono_literals;
using TState = TConnectionState;
using TWritten = TConnectionController::TWrittenCommand;

class TPlayedPort : public TConnectionController::TPort {
 public:
  void BeginOpen(std::function<void(std::exception_ptr)> done) override {
    ++Opens;
    if (Outcome) {
      done(*Outcome);
    } else {
      Pending = std::move(done);
    }
  }
  bool IsStation() const override { return Station; }
  std::string Name() const override { return "SHACK"; }
  std::vector<TWritten> UnconfirmedWrites() const override { return Unconfirmed; }

  // Set: the port opens at once with this outcome (null: open); unset: it is reached later.
  std::optional<std::exception_ptr> Outcome;
  std::function<void(std::exception_ptr)> Pending;
  bool Station = true;
  std::vector<TWritten> Unconfirmed;
  int Opens = 0;
};

class TPlayedClock : public TConnectionController::TClock {
 public:
  std::chrono::system_clock::time_point Now() const override { return now_; }
  void Start(std::chrono::milliseconds delay, std::function<void()> tick) override {
    due_ = now_ + delay;
    tick_ = std::move(tick);
  }
  void Stop() override { tick_ = nullptr; }
  void Later(std::function<void()> action) override { later_.push_back(std::move(action)); }

  bool Running() const { return static_cast<bool>(tick_); }
  void Advance(std::chrono::milliseconds by) {
    now_ += by;
    if (tick_ && now_ >= due_) {
      auto tick = std::move(tick_);
      tick_ = nullptr;
      RunUserAction(tick);
    }
  }
  void RunLater() {
    while (!later_.empty()) {
      auto action = std::move(later_.front());
      later_.pop_front();
      action();
    }
  }

 private:
  std::chrono::system_clock::time_point now_{std::chrono::hours(21) + 3min + 41s};
  std::chrono::system_clock::time_point due_;
  std::function<void()> tick_;
  std::deque<std::function<void()>> later_;
};

class TPlayedWindow : public TConnectionController::TWindow {
 public:
  void OpenAgain(bool asClick) override {
    Seen += asClick ? "click " : "retry ";
    Controller->Open();
  }
  void ShowConnecting() override { Seen += "connecting "; }
  void ShowOpened() override { Seen += "opened "; }
  void ShowClosed() override { Seen += "closed "; }
  void ShowBeforeOpen() override { Seen += "before "; }
  void ShowRetryReason(const std::string& reason) override { RetryReason = reason; }
  void Announce(const std::string& text) override { Announced.push_back(text); }
  bool ReconnectsAutomatically() const override { return Reconnects; }

  TConnectionController* Controller = nullptr;
  std::string Seen;
  std::string RetryReason;
  std::vector<std::string> Announced;
  bool Reconnects = true;
};

std::exception_ptr Failure(TSerialErrorKind kind) {
  const std::string fingerprint = NormalFingerprint(std::string(64, 'a'));
  return std::make_exception_ptr(ESerialPortException(
      kind, "refused " + std::to_string(static_cast<int>(kind)), {"127.0.0.1:4000", fingerprint}));
}

class ConnectionControllerTest : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    ::setenv("XDG_CONFIG_HOME", home_.path().toLocal8Bit().constData(), 1);
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    window_.Controller = &controller_;
    SetUserActionErrorReporter([this](const std::string& message) { shown_.push_back(message); });
    controller_.AskToTrustStation = [this](const ESerialPortException&) {
      ++asked_;
      if (whileAsked_) whileAsked_();
      return trust_;
    };
  }
  void TearDown() override { SetUserActionErrorReporter(nullptr); }

  // The operator's click; a failure found at once is shown as the window's error display does.
  void Click() {
    RunUserAction([this] { controller_.Open(); });
  }
  void Reached(std::exception_ptr failure) {
    ASSERT_TRUE(port_.Pending);
    auto done = std::move(port_.Pending);
    done(std::move(failure));
  }
  // Connected to a station reached in the background, with Reconnect Automatically on or off.
  void Connect() {
    Click();
    Reached(nullptr);
    controller_.Identified();
    ASSERT_EQ(controller_.State(), TState::Connected);
    window_.Seen.clear();
  }

  QTemporaryDir home_;
  TPlayedPort port_;
  TPlayedWindow window_;
  TPlayedClock clock_;
  TConnectionController controller_{port_, window_, clock_};
  std::vector<std::string> shown_;
  int asked_ = 0;
  bool trust_ = false;
  std::function<void()> whileAsked_;
};

// Close Port (or the probe's time-out) in each state ends every attempt, retry and question.
TEST_F(ConnectionControllerTest, CancelInEachStateLeavesNothingBehind) {
  struct TCase {
    const char* name;
    std::function<void(ConnectionControllerTest&)> reach;
    TState reached;
  };
  const TCase cases[] = {
      {"reaching", [](auto& t) { t.Click(); }, TState::Reaching},
      {"asking trust",
       [](auto& t) {
         t.Click();
         t.Reached(Failure(TSerialErrorKind::UnknownStation));
       },
       TState::AskingTrust},
      {"probing",
       [](auto& t) {
         t.Click();
         t.Reached(nullptr);
       },
       TState::Probing},
      {"connected", [](auto& t) { t.Connect(); }, TState::Connected},
      {"waiting to reconnect",
       [](auto& t) {
         t.Connect();
         t.controller_.Fault();
       },
       TState::WaitingToReconnect},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::function<void(std::exception_ptr)> late;
    c.reach(*this);
    ASSERT_EQ(controller_.State(), c.reached);
    late = port_.Pending;
    const int opens = port_.Opens;
    controller_.Cancel();
    EXPECT_EQ(controller_.State(), TState::Closed);
    EXPECT_FALSE(clock_.Running());
    // What was under way comes too late to change anything.
    if (late) late(nullptr);
    clock_.RunLater();
    clock_.Advance(TConnectionController::LongestRetryDelay);
    EXPECT_EQ(controller_.State(), TState::Closed);
    EXPECT_EQ(port_.Opens, opens);
    EXPECT_EQ(asked_, 0);
    EXPECT_TRUE(shown_.empty());
    port_.Pending = nullptr;
  }
}

// The trust question: asked once the refusal's event has ended; no leaves the window closed,
// yes pins the certificate and opens as the click did; a fault or Close Port meanwhile drops the
// answer, and a changed certificate is never asked about.
TEST_F(ConnectionControllerTest, TheTrustQuestionAndWhatEndsIt) {
  struct TCase {
    const char* name;
    TSerialErrorKind kind;
    bool trust;
    std::function<void(ConnectionControllerTest&)> whileAsked;
    int asked;
    TState after;
    std::string seen;
    std::size_t shown;
  };
  const TCase cases[] = {
      {"refused", TSerialErrorKind::UnknownStation, false, nullptr, 1, TState::Closed,
       "connecting before ", 0},
      {"trusted", TSerialErrorKind::UnknownStation, true, nullptr, 1, TState::Reaching,
       "connecting before click connecting ", 0},
      {"a fault while asking", TSerialErrorKind::UnknownStation, true,
       [](auto& t) { t.controller_.Fault(); }, 1, TState::Closed, "connecting before closed ", 0},
      {"Close Port while asking", TSerialErrorKind::UnknownStation, true,
       [](auto& t) { t.controller_.Cancel(); }, 1, TState::Closed, "connecting before ", 0},
      {"changed certificate", TSerialErrorKind::StationChanged, true, nullptr, 0, TState::Closed,
       "connecting before ", 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(home_.path().toStdString() + "/orvel");
    controller_.Cancel();
    window_.Seen.clear();
    shown_.clear();
    asked_ = 0;
    trust_ = c.trust;
    whileAsked_ = c.whileAsked ? [&] { c.whileAsked(*this); } : std::function<void()>();
    Click();
    Reached(Failure(c.kind));
    EXPECT_EQ(asked_, 0) << "not asked within the event that brought the refusal";
    clock_.RunLater();
    EXPECT_EQ(asked_, c.asked);
    EXPECT_EQ(controller_.State(), c.after);
    EXPECT_EQ(window_.Seen, c.seen);
    EXPECT_EQ(shown_.size(), c.shown);
    const bool pinned = c.trust && c.after == TState::Reaching;
    EXPECT_EQ(
        TStationPins().Check("127.0.0.1:4000", NormalFingerprint(std::string(64, 'a'))).Verdict,
        pinned ? TPinVerdict::Trusted : TPinVerdict::Unknown);
  }
}

// A lost port is opened again after 1 s, then after waits that double up to 10 s; each try
// happens at its time and not before, and the button says why it is retrying.
TEST_F(ConnectionControllerTest, ReconnectionBacksOffUpToTenSeconds) {
  port_.Station = false;
  Connect();
  port_.Outcome = Failure(TSerialErrorKind::NotFound);
  controller_.Fault();
  EXPECT_TRUE(window_.Announced.empty()) << "a local port closes silently";
  const std::chrono::milliseconds waits[] = {1000ms, 2000ms, 4000ms, 8000ms, 10000ms, 10000ms};
  for (const auto wait : waits) {
    SCOPED_TRACE(wait.count());
    ASSERT_EQ(controller_.State(), TState::WaitingToReconnect);
    const int opens = port_.Opens;
    clock_.Advance(wait - 1ms);
    EXPECT_EQ(port_.Opens, opens) << "not before the wait has passed";
    clock_.Advance(1ms);
    EXPECT_EQ(port_.Opens, opens + 1);
  }
  EXPECT_EQ(window_.RetryReason, "Opening again; the last try failed at 21:04:16: refused 1");
  EXPECT_TRUE(shown_.empty()) << "a port that is not back yet is not reported";
  port_.Outcome = nullptr;
  clock_.Advance(10000ms);
  EXPECT_EQ(controller_.State(), TState::Probing);
  EXPECT_EQ(window_.RetryReason, "");
}

// Reconnection ends when switched off, when the port is back, and on a failure that trying again
// cannot heal, which is shown once.
TEST_F(ConnectionControllerTest, ReconnectionStops) {
  struct TCase {
    const char* name;
    std::function<void(ConnectionControllerTest&)> then;
    TState after;
    std::size_t shown;
  };
  const TCase cases[] = {
      {"switched off", [](auto& t) { t.controller_.StopRetrying(); }, TState::Closed, 0},
      {"port back",
       [](auto& t) {
         t.clock_.Advance(1s);
         t.Reached(nullptr);
       },
       TState::Probing, 0},
      {"changed certificate",
       [](auto& t) {
         t.clock_.Advance(1s);
         t.Reached(Failure(TSerialErrorKind::StationChanged));
       },
       TState::Closed, 1},
      {"known-stations file refused",
       [](auto& t) {
         t.clock_.Advance(1s);
         t.Reached(Failure(TSerialErrorKind::Other));
       },
       TState::Closed, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    controller_.Cancel();
    shown_.clear();
    Connect();
    controller_.Fault();
    ASSERT_EQ(controller_.State(), TState::WaitingToReconnect);
    c.then(*this);
    EXPECT_EQ(controller_.State(), c.after);
    EXPECT_EQ(shown_.size(), c.shown);
    const int opens = port_.Opens;
    clock_.Advance(TConnectionController::LongestRetryDelay);
    EXPECT_EQ(port_.Opens, opens) << "no try after the reconnection ended";
  }
}

// A station found lost names, in one message, what it may still carry out; the tuner's own
// questions are left out.
TEST_F(ConnectionControllerTest, ALostStationNamesWhatItMayStillCarryOut) {
  const auto at = [](int h, int m, int s) {
    return std::chrono::system_clock::time_point(std::chrono::hours(h) + std::chrono::minutes(m) +
                                                 std::chrono::seconds(s));
  };
  struct TCase {
    std::vector<TWritten> written;
    std::string message;
  };
  const TCase cases[] = {
      {{}, "SHACK stopped answering."},
      {{{"????\r\n", at(21, 3, 40)}}, "SHACK stopped answering."},
      {{{"TUNE ON\r\n", at(21, 3, 41)}},
       "SHACK stopped answering. TUNE ON, sent at 21:03:41, may still reach the tuner if the "
       "station resumes."},
      {{{"SWRmin 15\r\n", at(21, 3, 39)},
        {"???\r\n", at(21, 3, 40)},
        {"CMEM\r\nTUNE ON\r\n", at(21, 3, 42)}},
       "SHACK stopped answering. SWRmin 15, sent at 21:03:39, CMEM, sent at 21:03:42, and TUNE ON, "
       "sent at 21:03:42, may still reach the tuner if the station resumes."},
  };
  window_.Reconnects = false;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.message);
    window_.Announced.clear();
    Connect();
    port_.Unconfirmed = c.written;
    controller_.Fault();
    EXPECT_EQ(window_.Seen, "closed ");
    EXPECT_EQ(window_.Announced, std::vector<std::string>{c.message});
    EXPECT_EQ(controller_.State(), TState::Closed);
  }
}

// An operator's open that fails at once is the click's error; one found later lets the buttons
// back up and is shown through the error display.
TEST_F(ConnectionControllerTest, AFailedOpenIsShownOnce) {
  port_.Outcome = Failure(TSerialErrorKind::Busy);
  EXPECT_THROW(controller_.Open(), ESerialPortException);
  EXPECT_EQ(window_.Seen, "before ");
  EXPECT_EQ(controller_.State(), TState::Closed);

  port_.Outcome.reset();
  window_.Seen.clear();
  Click();
  Reached(Failure(TSerialErrorKind::NotFound));
  EXPECT_EQ(window_.Seen, "connecting before ");
  EXPECT_EQ(shown_, std::vector<std::string>{"refused 1"});
  EXPECT_EQ(controller_.State(), TState::Closed);
}

}  // namespace
