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
#include <map>
#include <optional>

#include "app/ConnectionController.h"
#include "controls/UserAction.h"
#include "station/StationPins.h"

namespace {

using namespace std::chrono_literals;
using TState = TConnectionState;
using TWritten = TUnconfirmedWrite;
const std::string kStation = "127.0.0.1:4000";

std::exception_ptr Failure(TSerialErrorKind kind, bool certificate = true) {
  return std::make_exception_ptr(ESerialPortException(
      kind, "refused " + std::to_string(static_cast<int>(kind)),
      certificate ? TStationCertificate{kStation, NormalFingerprint(std::string(64, 'a'))}
                  : TStationCertificate{}));
}

// The port, the window and the clock at once; the window writes down what it is told to show.
class TPlayed : public TConnectionController::TPort,
                public TConnectionController::TWindow,
                public TConnectionController::TClock {
 public:
  void BeginOpen(std::function<void(std::exception_ptr)> done) override {
    ++Opens;
    if (Outcome) done(*Outcome);
    Pending = std::move(done);
  }
  bool IsStation() const override { return Station; }
  std::string Name() const override { return "SHACK"; }
  std::vector<TWritten> UnconfirmedWrites() const override { return Unconfirmed; }
  TStationReport LossReport() const override { return Loss; }

  void OpenAgain(bool asClick) override {
    Seen += asClick ? "click " : "retry ";
    if (!asClick) ++Tries;
    if (!asClick && RefusedAtOnce) std::rethrow_exception(*RefusedAtOnce);
    Controller->Open();
  }
  void ShowConnecting() override { Seen += "connecting "; }
  void ShowOpened() override { Seen += "opened "; }
  void ShowClosed() override { Seen += "closed "; }
  void ShowBeforeOpen() override { Seen += "before "; }
  void ShowRetryReason(const std::string& reason) override { RetryReason = reason; }
  void Announce(const std::string& text) override { Announced.push_back(text); }
  bool ReconnectsAutomatically() const override { return Reconnects; }
  bool CanAskTrust() const override { return true; }
  bool AskTrust(const ESerialPortException&) override { return Ask(); }
  bool TakeRefusal(const ESerialPortException&) override { return false; }

  std::chrono::system_clock::time_point Now() const override { return now_; }
  void Start(std::chrono::milliseconds delay, std::function<void()> tick) override {
    due_ = now_ + delay;
    tick_ = std::move(tick);
  }
  void Stop() override { tick_ = nullptr; }
  void Later(std::function<void()> action) override { later_.push_back(std::move(action)); }
  void Advance(std::chrono::milliseconds by) {
    now_ += by;
    if (!tick_ || now_ < due_) return;
    auto tick = std::move(tick_);
    tick_ = nullptr;
    RunUserAction(tick);
  }
  void RunLater() {
    for (; !later_.empty(); later_.pop_front()) later_.front()();
  }

  TConnectionController* Controller = nullptr;
  std::function<bool()> Ask;
  // Set: the port opens at once with this outcome (null: open); unset: it is reached later.
  std::optional<std::exception_ptr> Outcome;
  std::function<void(std::exception_ptr)> Pending;
  // Set: a try of reconnection fails in the window before the port is asked to open.
  std::optional<std::exception_ptr> RefusedAtOnce;
  bool Station = true, Reconnects = true;
  std::vector<TWritten> Unconfirmed;
  TStationReport Loss;
  int Opens = 0, Tries = 0;
  std::string Seen, RetryReason;
  std::vector<std::string> Announced;

 private:
  std::chrono::system_clock::time_point now_{21h + 3min + 41s};
  std::chrono::system_clock::time_point due_;
  std::function<void()> tick_;
  std::deque<std::function<void()>> later_;
};

class ConnectionControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.isValid());
    ::setenv("XDG_CONFIG_HOME", home_.path().toLocal8Bit().constData(), 1);
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    Reset();
    SetUserActionErrorReporter([this](const std::string& message) { shown_.push_back(message); });
  }
  void Reset() {
    played_ = {};
    played_.Controller = &controller_;
    played_.Ask = [this] {
      ++asked_;
      if (faultWhileAsked_) controller_.Fault();
      return trust_;
    };
  }
  void TearDown() override { SetUserActionErrorReporter(nullptr); }

  // One letter an event: c Open Port's click, o u x k f n the station reached (open, not known
  // yet, changed, known-stations file refused, not found, failed as stationFailure_ says), i
  // identified, F fault, L a fault that the station's bytes tell was a TLS station's refusal, C
  // Close Port, s reconnection switched off, l what waits for the event's end, t T 1 s and 10 s
  // pass, y the operator trusts, A a fault while the question is shown, R reconnection off.
  void Play(const std::string& events) {
    auto reach = [this](std::exception_ptr failure) {
      auto reached = played_.Pending;
      RunUserAction([&] { reached(failure); });
    };
    const std::map<char, std::function<void()>> play = {
        {'c', [&] { RunUserAction([this] { controller_.Open(); }); }},
        {'o', [&] { reach(nullptr); }},
        {'u', [&] { reach(Failure(TSerialErrorKind::UnknownStation)); }},
        {'x', [&] { reach(Failure(TSerialErrorKind::StationChanged)); }},
        {'k', [&] { reach(Failure(TSerialErrorKind::Other)); }},
        {'f', [&] { reach(Failure(TSerialErrorKind::NotFound, false)); }},
        {'n',
         [&] {
           TStationReport report;
           report.Failure = stationFailure_;
           report.Address = "rfc2217://127.0.0.1:4000";
           reach(std::make_exception_ptr(
               ESerialPortException(TSerialErrorKind::Other, "station failed", {}, report)));
         }},
        {'i', [&] { controller_.Identified(); }},
        {'F', [&] { controller_.Fault(); }},
        {'L',
         [&] {
           played_.Loss.Failure = TStationFailure::ExpectsTls;
           controller_.Fault();
         }},
        {'C', [&] { controller_.Cancel(); }},
        {'s', [&] { controller_.StopRetrying(); }},
        {'l', [&] { played_.RunLater(); }},
        {'t', [&] { played_.Advance(1s); }},
        {'T', [&] { played_.Advance(10s); }},
        {'y', [&] { trust_ = true; }},
        {'A', [&] { faultWhileAsked_ = true; }},
        {'R', [&] { played_.Reconnects = false; }},
    };
    for (const char event : events) play.at(event)();
  }

  QTemporaryDir home_;
  TPlayed played_;
  TConnectionController controller_{played_, played_, played_};
  std::vector<std::string> shown_;
  int asked_ = 0;
  bool trust_ = false, faultWhileAsked_ = false;
  TStationFailure stationFailure_ = TStationFailure::None;
};

TEST_F(ConnectionControllerTest, Transitions) {
  struct TCase {
    const char* name;
    const char* events;
    TState state;
    int opens, asked;
    std::size_t shown;
    const char* seen;
    TStationFailure failure = TStationFailure::None;
  };
  // What retrying cannot mend ends the reconnection with the reason shown once; what it may
  // mend is tried again after the doubled wait.
  const char* const ended = "connecting opened closed connecting retry connecting closed ";
  const char* const goesOn =
      "connecting opened closed connecting retry connecting closed connecting ";
  // A late "o" after a cancel is the completion of the attempt given up.
  std::vector<TCase> cases = {
      {"cancel while reaching", "cCo", TState::Closed, 1, 0, 0, "connecting "},
      {"cancel while asking", "cuCl", TState::Closed, 1, 0, 0, "connecting before "},
      {"cancel while probing", "coC", TState::Closed, 1, 0, 0, "connecting opened "},
      {"cancel when connected", "coiC", TState::Closed, 1, 0, 0, "connecting opened "},
      {"cancel while waiting to reconnect", "coiFCTT", TState::Closed, 1, 0, 0,
       "connecting opened closed connecting "},
      {"trust refused", "cul", TState::Closed, 1, 1, 0, "connecting before "},
      {"trusted", "yculo", TState::Probing, 2, 1, 0, "connecting before click connecting opened "},
      {"a fault while asking", "yAcul", TState::Closed, 1, 1, 0, "connecting before closed "},
      {"changed certificate: never asked", "ycxl", TState::Closed, 1, 0, 1, "connecting before "},
      {"failure found later", "cf", TState::Closed, 1, 0, 1, "connecting before "},
      {"lost, without reconnection", "RcoiFT", TState::Closed, 1, 0, 0,
       "connecting opened closed "},
      {"reconnection switched off", "coiFsT", TState::Closed, 1, 0, 0,
       "connecting opened closed connecting closed "},
      {"reconnected", "coiFto", TState::Probing, 2, 0, 0,
       "connecting opened closed connecting retry connecting opened "},
      {"not back yet: tried again unseen", "coiFtftt", TState::Reaching, 3, 0, 0,
       "connecting opened closed connecting retry connecting closed connecting retry connecting "},
      {"reconnection ends on a changed certificate", "coiFtxTT", TState::Closed, 2, 0, 1,
       "connecting opened closed connecting retry connecting closed "},
      {"reconnection ends on a refused known-stations file", "coiFtkTT", TState::Closed, 2, 0, 1,
       "connecting opened closed connecting retry connecting closed "},
      {"a raw address to a TLS station: told once, never retried", "coLlTT", TState::Closed, 1, 0,
       1, "connecting opened closed "},
  };
  using enum TStationFailure;
  for (const TStationFailure kind :
       {ExpectsTls, NotTls, NotRfc2217, CertificateNotTrusted, ClientCertificateRequired,
        ClientCertificateRefused, ClientKeyUnusable, UnknownStation, StationChanged, SettingRefused,
        FileUnreadable}) {
    cases.push_back({"reconnection ends", "coiFtnTT", TState::Closed, 2, 0, 1, ended, kind});
  }
  for (const TStationFailure kind :
       {TimedOut, NotAnswering, Refused, ClosedByStation, InUse, SettingUnconfirmed, Other}) {
    cases.push_back(
        {"reconnection goes on", "coiFtnt", TState::WaitingToReconnect, 2, 0, 0, goesOn, kind});
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    SCOPED_TRACE(static_cast<int>(c.failure));
    Play("C");
    Reset();
    shown_.clear();
    asked_ = 0;
    trust_ = faultWhileAsked_ = false;
    stationFailure_ = c.failure;
    std::filesystem::remove_all(home_.path().toStdString() + "/orvel");
    Play(c.events);
    EXPECT_EQ(controller_.State(), c.state);
    EXPECT_EQ(played_.Opens, c.opens);
    EXPECT_EQ(asked_, c.asked);
    EXPECT_EQ(shown_.size(), c.shown);
    EXPECT_EQ(played_.Seen, c.seen);
    const bool pinned = c.opens == 2 && c.asked == 1;
    EXPECT_EQ(TStationPins().Check(kStation, NormalFingerprint(std::string(64, 'a'))).Verdict,
              pinned ? TPinVerdict::Trusted : TPinVerdict::Unknown);
  }
}

// A lost port is opened again after 1 s, then after waits that double up to 10 s; each try
// happens at its time and not before, and the button says why it is retrying.
// However a try fails, in the port's open or in the window before it, the waits grow alike.
class ReconnectionBackOffTest : public ConnectionControllerTest,
                                public testing::WithParamInterface<bool> {};

TEST_P(ReconnectionBackOffTest, BacksOffUpToTenSeconds) {
  played_.Station = false;
  Play("coi");
  const std::exception_ptr refused = Failure(TSerialErrorKind::NotFound, false);
  if (GetParam()) {
    played_.RefusedAtOnce = refused;
  } else {
    played_.Outcome = refused;
  }
  Play("F");
  EXPECT_TRUE(played_.Announced.empty()) << "a local port closes silently";
  for (const auto wait : {1000ms, 2000ms, 4000ms, 8000ms, 10000ms, 10000ms}) {
    SCOPED_TRACE(wait.count());
    const int tries = played_.Tries;
    played_.Advance(wait - 1ms);
    EXPECT_EQ(played_.Tries, tries) << "not before the wait has passed";
    played_.Advance(1ms);
    EXPECT_EQ(played_.Tries, tries + 1);
  }
  played_.RefusedAtOnce.reset();
  EXPECT_EQ(played_.RetryReason, "Opening again; the last try failed at 21:04:16: refused 1");
  played_.Outcome = nullptr;
  played_.Advance(10s);
  EXPECT_EQ(controller_.State(), TState::Probing);
  // Dropped again before the tuner answered (a TLS station reached by a plain address): the
  // waits stay long; only the tuner's answer starts them again at 1 s.
  Play("F");
  EXPECT_EQ(controller_.RetryDelay(), 10s);
  Play("Tii");
  EXPECT_EQ(played_.RetryReason, "");
  Play("F");
  EXPECT_EQ(controller_.RetryDelay(), 1s);
  EXPECT_TRUE(shown_.empty());
}

INSTANTIATE_TEST_SUITE_P(HowATryFails, ReconnectionBackOffTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& test) {
                           return test.param ? "InTheWindow" : "InThePortsOpen";
                         });

// A station found lost names, in one message, what it may still carry out; the tuner's own
// questions are left out. A station that refused the connection's first bytes says why instead. An
// open that fails at once is the click's own error.
TEST_F(ConnectionControllerTest, ALostStationNamesWhatItMayStillCarryOut) {
  const auto at = [](std::chrono::seconds s) { return std::chrono::system_clock::time_point(s); };
  struct TCase {
    std::vector<TWritten> written;
    std::string message;
  };
  const std::string resumes = ", may still reach the tuner if the station resumes.";
  const TCase cases[] = {
      {{}, "SHACK stopped answering."},
      {{{"????\r\n", at(21h + 3min + 40s)}}, "SHACK stopped answering."},
      {{{"TUNE ON\r\n", at(21h + 3min + 41s)}},
       "SHACK stopped answering. TUNE ON, sent at 21:03:41" + resumes},
      {{{"SWRmin 15\r\n", at(21h + 3min + 39s)},
        {"???\r\n", at(21h + 3min + 40s)},
        {"CMEM\r\nTUNE ON\r\n", at(21h + 3min + 42s)}},
       "SHACK stopped answering. SWRmin 15, sent at 21:03:39, CMEM, sent at 21:03:42, and TUNE ON, "
       "sent at 21:03:42" +
           resumes},
  };
  played_.Reconnects = false;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.message);
    played_.Announced.clear();
    played_.Unconfirmed = c.written;
    Play("coiF");
    EXPECT_EQ(played_.Announced, std::vector<std::string>{c.message});
  }
  // A station whose first bytes were a TLS refusal is told as the failure it is, and nothing
  // it took is named: it carried out none of it.
  played_.Announced.clear();
  played_.Loss.Failure = TStationFailure::ExpectsTls;
  Play("coiFl");
  EXPECT_TRUE(played_.Announced.empty());
  EXPECT_EQ(shown_, std::vector<std::string>{
                        "SHACK hung up. This station expects TLS: use rfc2217+tls://"});
  played_.Loss = {};
  // The operator's open of a station that refused the kind of address: the box says what to do.
  shown_.clear();
  stationFailure_ = TStationFailure::NotTls;
  Play("cn");
  EXPECT_EQ(shown_, std::vector<std::string>{"Cannot connect to rfc2217://127.0.0.1:4000. This "
                                             "station does not use TLS: use rfc2217://"});
  played_.Outcome = Failure(TSerialErrorKind::Busy, false);
  EXPECT_THROW(controller_.Open(), ESerialPortException);
  EXPECT_EQ(controller_.State(), TState::Closed);
}

}  // namespace
