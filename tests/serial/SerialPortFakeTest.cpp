// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The serial port object on a fake platform: the failures that a pseudo-terminal cannot show
// on demand (a failing read, refused settings, a refused thread).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeSerialPlatform.h"
#include "FakeUiThread.h"
#include "SerialPort.h"

namespace {

using testing::ElementsAre;

class SerialPortFakeTest : public testing::Test {
 protected:
  SerialPortFakeTest() {
    port_.SetUiHandOver(&ui_);
    port_.SetPort(spCOM7);
    port_.OnConnect = [this](TSerialPort*, TCommPort) { events_.push_back("connect"); };
    port_.OnDisconnect = [this](TSerialPort*, TCommPort) { events_.push_back("disconnect"); };
    port_.OnFault = [this](TSerialPort*, TCommPort) { events_.push_back("fault"); };
    port_.OnReceive = [this](TSerialPort*, const std::string& buffer) {
      events_.push_back("receive " + buffer);
    };
  }

  TFakeLine& Line() { return *platform_->Line(); }

  std::shared_ptr<TFakeSerialPlatform> platform_ = std::make_shared<TFakeSerialPlatform>();
  TFakeUiThread ui_;
  std::vector<std::string> events_;
  TSerialPort port_{platform_};
};

// A read that fails is no chunk: the presence test decides whether the port is gone.
struct TFailedReadCase {
  const char* name;
  bool listed;
  std::vector<std::string> events;
};

class SerialPortFailedReadTest : public SerialPortFakeTest,
                                 public testing::WithParamInterface<TFailedReadCase> {};

TEST_P(SerialPortFailedReadTest, RunsThePresenceTest) {
  port_.Open();
  platform_->SetListed(GetParam().listed);
  Line().SetFailReads(true);
  Line().Arrive("lost");
  ASSERT_TRUE(ui_.WaitUntil([&] { return Line().Reads() >= 2 || Line().Closed(); }));
  Line().SetFailReads(false);
  if (GetParam().listed) {
    ASSERT_TRUE(ui_.WaitUntil([&] { return events_.size() == GetParam().events.size(); }));
    EXPECT_EQ(port_.ConnectedPort(), spCOM7);
  } else {
    ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ConnectedPort() == spNone; }));
    EXPECT_TRUE(Line().Closed());
  }
  EXPECT_EQ(events_, GetParam().events);
}

INSTANTIATE_TEST_SUITE_P(
    Listing, SerialPortFailedReadTest,
    testing::Values(TFailedReadCase{"PortListed", true, {"connect", "receive lost"}},
                    TFailedReadCase{"PortGone", false, {"connect", "fault", "disconnect"}}),
    [](const auto& instance) { return std::string(instance.param.name); });

// A device with modem lines, whose changes wake nobody: its receive thread polls for them
// while a handler listens, and sleeps otherwise, the lines still read on every pass it makes.
class SerialPortModemLinesTest : public SerialPortFakeTest,
                                 public testing::WithParamInterface<bool> {};

TEST_P(SerialPortModemLinesTest, ArePolledOnlyWhileAHandlerListens) {
  const bool listening = GetParam();
  if (listening) {
    port_.OnLineStatusChange = [this](TSerialPort*, TLineStatusSet lines) {
      events_.push_back(lines == TLineStatusSet{lsCTS} ? "lines CTS" : "lines");
    };
  }
  Line().SetModemLines(0);
  port_.Open();
  std::uint64_t passes = 0;
  if (listening) {
    ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ReceivePasses() >= 2; }));
    Line().SetModemLines(ModemCts);
  } else {
    ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ReceiveThreadAsleep(); }));
    passes = port_.ReceivePasses();
    Line().SetModemLines(ModemCts);
    Line().Arrive("x");
  }
  ASSERT_TRUE(ui_.WaitUntil([&] { return events_.size() == 2; }));
  EXPECT_EQ(events_[1], listening ? "lines CTS" : "receive x");
  EXPECT_EQ(port_.LineStatus(), TLineStatusSet{lsCTS});
  if (listening) {
    EXPECT_FALSE(port_.ReceiveThreadAsleep());
  } else {
    EXPECT_EQ(port_.ReceivePasses(), passes + 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Handler, SerialPortModemLinesTest, testing::Bool(),
                         [](const auto& instance) {
                           return std::string(instance.param ? "Assigned" : "None");
                         });

TEST_F(SerialPortFakeTest, RefusedThreadFailsTheOpenAndLeavesNothingOpen) {
  platform_->SetRefuseThreads(true);
  try {
    port_.Open();
    FAIL() << "no exception";
  } catch (const ESerialPortException& error) {
    EXPECT_EQ(error.Kind(), TSerialErrorKind::OutOfResources);
    EXPECT_STREQ(error.what(), "Cannot connect to COM7. Resource temporarily unavailable");
  }
  EXPECT_EQ(port_.ConnectedPort(), spNone);
  EXPECT_TRUE(Line().Closed());
  EXPECT_THROW(port_.SendString("x"), ESerialPortException);
  EXPECT_EQ(Line().Written(), "");
  EXPECT_THAT(events_, ElementsAre("connect", "disconnect"));
  // Nothing is left behind to wait for: the port opens again once threads start.
  platform_->SetRefuseThreads(false);
  port_.Open();
  EXPECT_EQ(port_.ConnectedPort(), spCOM7);
}

// The receive thread's first pass finds the port missing before Open has returned.
TEST_F(SerialPortFakeTest, FaultFoundByTheFirstPassStaysFaulted) {
  platform_->SetListed(false);
  platform_->SetAfterThreadStart([this] { ui_.WaitUntil([this] { return Line().Closed(); }); });
  port_.Open();
  EXPECT_TRUE(Line().Closed());
  EXPECT_TRUE(port_.Faulted());
  EXPECT_THAT(events_, ElementsAre("connect", "fault", "disconnect"));
}

TEST_F(SerialPortFakeTest, SettingsTheDeviceRefusesFailTheOpen) {
  Line().SetRefuseSettings(true);
  try {
    port_.Open();
    FAIL() << "no exception";
  } catch (const ESerialPortException& error) {
    EXPECT_EQ(error.Kind(), TSerialErrorKind::RefusedSetting);
    EXPECT_STREQ(error.what(), "Cannot connect to COM7. Invalid argument");
  }
  EXPECT_EQ(port_.ConnectedPort(), spNone);
  EXPECT_TRUE(Line().Closed());
  EXPECT_TRUE(events_.empty());
}

TEST_F(SerialPortFakeTest, SettingsTheDeviceRefusesCloseTheOpenPort) {
  port_.Open();
  Line().SetRefuseSettings(true);
  port_.SetBaudRate(br115200);
  EXPECT_EQ(port_.ConnectedPort(), spNone);
  EXPECT_TRUE(Line().Closed());
  EXPECT_THAT(events_, ElementsAre("connect", "disconnect"));
}

}  // namespace
