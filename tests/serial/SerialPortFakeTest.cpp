// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The serial port object on a fake platform: the failures that a pseudo-terminal cannot show
// on demand (a failing read, refused settings, a refused thread).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "serial/SerialPort.h"
#include "tests/serial/FakeSerialPlatform.h"
#include "tests/serial/FakeUiThread.h"

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

// A device with modem lines, whose changes wake nobody: whenever the handler is assigned (or
// if it never is), the pass after a change has LineStatus hold it and a handler hear of it.
enum class THandlerAssigned { BeforeOpen, AfterOpen, Never };

class SerialPortModemLinesTest : public SerialPortFakeTest,
                                 public testing::WithParamInterface<THandlerAssigned> {
 protected:
  void Listen() {
    port_.OnLineStatusChange = [this](TSerialPort*, TLineStatusSet lines) {
      events_.push_back(lines == TLineStatusSet{lsCTS, lsDSR} ? "lines CTS DSR" : "lines");
    };
  }
};

TEST_P(SerialPortModemLinesTest, AreSeenByThePassAfterEachChange) {
  const THandlerAssigned assigned = GetParam();
  if (assigned == THandlerAssigned::BeforeOpen) Listen();
  port_.SetDelay(50);
  Line().SetModemLines(0);
  port_.Open();
  ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ReceivePasses() >= 2; }));
  // The receive thread reads the handler only when the lines change, and they are steady here.
  if (assigned == THandlerAssigned::AfterOpen) Listen();
  EXPECT_EQ(port_.LineStatus(), TLineStatusSet{});
  for (const std::uint8_t lines : {std::uint8_t(ModemCts | ModemDsr), std::uint8_t(0)}) {
    Line().SetModemLines(lines);
    const std::uint64_t passes = port_.ReceivePasses();
    // The pass after the change has ended once the one after it has begun.
    ASSERT_TRUE(ui_.WaitUntil([&] { return port_.ReceivePasses() >= passes + 2; }));
    const TLineStatusSet expected = lines == 0 ? TLineStatusSet() : TLineStatusSet{lsCTS, lsDSR};
    EXPECT_EQ(port_.LineStatus(), expected);
  }
  if (assigned == THandlerAssigned::Never) {
    EXPECT_THAT(events_, ElementsAre("connect"));
  } else {
    EXPECT_THAT(events_, ElementsAre("connect", "lines CTS DSR", "lines"));
  }
}

std::string HandlerCaseName(const testing::TestParamInfo<THandlerAssigned>& test) {
  constexpr const char* Names[] = {"BeforeOpen", "AfterOpen", "Never"};
  return Names[static_cast<int>(test.param)];
}

INSTANTIATE_TEST_SUITE_P(Handler, SerialPortModemLinesTest,
                         testing::Values(THandlerAssigned::BeforeOpen, THandlerAssigned::AfterOpen,
                                         THandlerAssigned::Never),
                         HandlerCaseName);

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
