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
    [](const testing::TestParamInfo<TFailedReadCase>& caseInfo) {
      return std::string(caseInfo.param.name);
    });

}  // namespace
