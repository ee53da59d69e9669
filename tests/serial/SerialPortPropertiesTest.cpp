// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Defaults, conversions and validation of the serial port object's properties, and the line
// settings that they give the device.
#include <gtest/gtest.h>

#include "serial/SerialPort.h"

namespace {

TEST(SerialPortProperties, NewObjectHasTheDefaults) {
  TSerialPort port;
  EXPECT_EQ(port.Port(), spNone);
  EXPECT_EQ(port.PortName(), "");
  EXPECT_EQ(port.BaudRate(), br004800);
  EXPECT_EQ(port.DataWidth(), dw8Bits);
  EXPECT_EQ(port.StopBits(), sb1Bit);
  EXPECT_EQ(port.Parity(), pbNone);
  EXPECT_TRUE(port.EnableDTROnOpen());
  EXPECT_TRUE(port.EnableRTSOnOpen());
  EXPECT_EQ(port.HwFlowControl(), hfNONE);
  EXPECT_EQ(port.SwFlowControl(), sfNONE);
  EXPECT_EQ(port.XonChar(), 17);
  EXPECT_EQ(port.XoffChar(), 19);
  EXPECT_EQ(port.XonLim(), 0);
  EXPECT_EQ(port.XoffLim(), 1);
  EXPECT_EQ(port.EofChar(), 26);
  EXPECT_EQ(port.EvtChar(), 26);
  EXPECT_EQ(port.ErrorChar(), 0);
  EXPECT_EQ(port.ReadIntervalTimeout(), 4294967295u);
  EXPECT_EQ(port.WriteTotalTimeoutMultiplier(), 100u);
  EXPECT_EQ(port.WriteTotalTimeoutConstant(), 1000u);
  EXPECT_EQ(port.InputBuffer(), 4096u);
  EXPECT_EQ(port.OutputBuffer(), 4096u);
  EXPECT_EQ(port.Priority(), tpNormal);
  EXPECT_EQ(port.Delay(), 100u);
  EXPECT_EQ(port.Interval(), 100u);
  EXPECT_EQ(port.CustomPortName(), "vcom1");
  EXPECT_EQ(port.CustomBaudRate(), 0);
  EXPECT_TRUE(port.AutoReceive());
  EXPECT_FALSE(port.KeepEntireBuffer());
  EXPECT_FALSE(port.LogInput());
  EXPECT_EQ(port.NewLine(), "\r\n");
  EXPECT_TRUE(port.SynchronizeEvents());
  EXPECT_EQ(port.ConnectedPort(), spNone);
  EXPECT_FALSE(port.Faulted());
  EXPECT_TRUE(port.LineStatus().Empty());
  EXPECT_EQ(port.AnnouncedCount(), 0u);
}

TEST(SerialPortProperties, IntervalAndDelayAreOneValue) {
  TSerialPort port;
  port.SetInterval(20);
  EXPECT_EQ(port.Delay(), 20u);
  port.SetDelay(250);
  EXPECT_EQ(port.Interval(), 250u);
}

struct TBaudCase {
  std::int32_t number;
  TBaudRate rate;
};

class BaudRateNumbersTest : public testing::TestWithParam<TBaudCase> {};

TEST_P(BaudRateNumbersTest, ConvertBothWays) {
  TSerialPort port;
  EXPECT_EQ(port.BaudRateFromNumber(GetParam().number), GetParam().rate);
  if (GetParam().rate != brCustom) {
    EXPECT_EQ(port.BaudRateToNumber(GetParam().rate), GetParam().number);
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, BaudRateNumbersTest,
                         testing::Values(TBaudCase{75, br000075}, TBaudCase{134, br000134},
                                         TBaudCase{7200, br007200}, TBaudCase{9600, br009600},
                                         TBaudCase{14400, br014400}, TBaudCase{128000, br128000},
                                         TBaudCase{256000, br256000}, TBaudCase{921600, br921600},
                                         TBaudCase{0, brCustom}, TBaudCase{9601, brCustom},
                                         TBaudCase{-9600, brCustom}, TBaudCase{250000, brCustom}));

TEST(SerialPortProperties, CustomBaudRateThatIsStandardReadsAsTheStandardValue) {
  TSerialPort port;
  port.SetCustomBaudRate(9600);
  EXPECT_EQ(port.BaudRate(), br004800);
  EXPECT_EQ(port.BaudRateToNumber(brCustom), 9600);
  port.SetBaudRate(brCustom);
  EXPECT_EQ(port.BaudRate(), br009600);
}

TEST(SerialPortProperties, CustomBaudRateFollowsOnlyWhileTheRateIsCustom) {
  TSerialPort port;
  port.SetCustomBaudRate(250000);
  port.SetBaudRate(brCustom);
  EXPECT_EQ(port.LineSettings().BitsPerSecond, 250000);
  port.SetCustomBaudRate(300000);
  EXPECT_EQ(port.LineSettings().BitsPerSecond, 300000);
  port.SetBaudRate(br019200);
  port.SetCustomBaudRate(100000);
  EXPECT_EQ(port.BaudRate(), br019200);
  EXPECT_EQ(port.LineSettings().BitsPerSecond, 19200);
}

// Each step is applied in order to one object; `refused` steps must leave both unchanged.
struct TWidthStopStep {
  bool setsWidth;
  std::uint8_t value;
  bool refused;
  TDataWidth widthAfter;
  TStopBits stopAfter;
};

struct TWidthStopCase {
  const char* name;
  std::vector<TWidthStopStep> steps;
};

class DataWidthStopBitsTest : public testing::TestWithParam<TWidthStopCase> {};

TEST_P(DataWidthStopBitsTest, RefusesTheImpossibleCombinations) {
  TSerialPort port;
  for (const TWidthStopStep& step : GetParam().steps) {
    auto set = [&] {
      if (step.setsWidth) {
        port.SetDataWidth(static_cast<TDataWidth>(step.value));
      } else {
        port.SetStopBits(static_cast<TStopBits>(step.value));
      }
    };
    if (step.refused) {
      try {
        set();
        ADD_FAILURE() << "accepted";
      } catch (const ESerialPortException& error) {
        EXPECT_EQ(error.Kind(), TSerialErrorKind::InvalidSetting);
        EXPECT_STREQ(error.what(), "Invalid data-width and stop-bits combination.");
      }
    } else {
      EXPECT_NO_THROW(set());
    }
    EXPECT_EQ(port.DataWidth(), step.widthAfter);
    EXPECT_EQ(port.StopBits(), step.stopAfter);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, DataWidthStopBitsTest,
    testing::Values(TWidthStopCase{"OneAndAHalfWithEightBits",
                                   {{false, sb1_5Bits, true, dw8Bits, sb1Bit}}},
                    TWidthStopCase{"OneAndAHalfWithFiveBits",
                                   {{true, dw5Bits, false, dw5Bits, sb1Bit},
                                    {false, sb1_5Bits, false, dw5Bits, sb1_5Bits},
                                    {true, dw6Bits, true, dw5Bits, sb1_5Bits},
                                    {true, dw8Bits, true, dw5Bits, sb1_5Bits}}},
                    TWidthStopCase{"FiveBitsWithTwoStopBits",
                                   {{false, sb2Bits, false, dw8Bits, sb2Bits},
                                    {true, dw5Bits, true, dw8Bits, sb2Bits},
                                    {true, dw7Bits, false, dw7Bits, sb2Bits}}},
                    TWidthStopCase{"TwoStopBitsWithFiveBits",
                                   {{true, dw5Bits, false, dw5Bits, sb1Bit},
                                    {false, sb2Bits, true, dw5Bits, sb1Bit}}},
                    TWidthStopCase{"FromFiveAndAHalfToEightAndTwoGoesThroughOne",
                                   {{true, dw5Bits, false, dw5Bits, sb1Bit},
                                    {false, sb1_5Bits, false, dw5Bits, sb1_5Bits},
                                    {false, sb1Bit, false, dw5Bits, sb1Bit},
                                    {true, dw8Bits, false, dw8Bits, sb1Bit},
                                    {false, sb2Bits, false, dw8Bits, sb2Bits}}},
                    TWidthStopCase{"WidthOutsideTheEnumerationIsEightBits",
                                   {{true, dw6Bits, false, dw6Bits, sb1Bit},
                                    {true, 9, false, dw8Bits, sb1Bit}}},
                    TWidthStopCase{"StopBitsOutsideTheEnumerationChangeNothing",
                                   {{false, sb2Bits, false, dw8Bits, sb2Bits},
                                    {false, 7, false, dw8Bits, sb2Bits}}}),
    [](const auto& instance) { return std::string(instance.param.name); });

TEST(SerialPortProperties, ParityOutsideTheEnumerationChangesNothing) {
  TSerialPort port;
  port.SetParity(pbSpace);
  port.SetParity(static_cast<TParityBits>(9));
  EXPECT_EQ(port.Parity(), pbSpace);
  EXPECT_EQ(port.LineSettings().ParityCode, 4);
}

struct TXonCase {
  std::uint16_t xonLim;
  std::uint32_t inputBuffer;
  std::uint16_t expected;
};

class XonLimitTest : public testing::TestWithParam<TXonCase> {};

TEST_P(XonLimitTest, ZeroMeansAQuarterOfTheInputBuffer) {
  TSerialPort port;
  port.SetXonLim(GetParam().xonLim);
  port.SetInputBuffer(GetParam().inputBuffer);
  EXPECT_EQ(port.LineSettings().XonLimit, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Limits, XonLimitTest,
                         testing::Values(TXonCase{0, 4096, 1024}, TXonCase{0, 100, 25},
                                         TXonCase{0, 3, 0}, TXonCase{300, 4096, 300},
                                         TXonCase{0, 0x50000, 0x4000}));

struct TLineCase {
  const char* name;
  THwFlowControl hw;
  bool dtr;
  bool rts;
  TLineControl expectedDtr;
  TLineControl expectedRts;
  bool ctsFlow;
  bool dsrFlow;
};

class ModemLinesTest : public testing::TestWithParam<TLineCase> {};

TEST_P(ModemLinesTest, HandshakeTakesItsLineOverWhateverTheEnableFlagSays) {
  TSerialPort port;
  port.SetHwFlowControl(GetParam().hw);
  port.SetEnableDTROnOpen(GetParam().dtr);
  port.SetEnableRTSOnOpen(GetParam().rts);
  const TLineSettings settings = port.LineSettings();
  EXPECT_EQ(settings.Dtr, GetParam().expectedDtr);
  EXPECT_EQ(settings.Rts, GetParam().expectedRts);
  EXPECT_EQ(settings.OutxCtsFlow, GetParam().ctsFlow);
  EXPECT_EQ(settings.OutxDsrFlow, GetParam().dsrFlow);
}

using enum TLineControl;
INSTANTIATE_TEST_SUITE_P(
    Lines, ModemLinesTest,
    testing::Values(
        TLineCase{"NoHandshakeBothRaised", hfNONE, true, true, Raised, Raised, false, false},
        TLineCase{"NoHandshakeBothLowered", hfNONE, false, false, Lowered, Lowered, false, false},
        TLineCase{"RtsCts", hfRTSCTS, true, true, Raised, Handshake, true, false},
        TLineCase{"RtsCtsDtrLowered", hfRTSCTS, false, true, Lowered, Handshake, true, false},
        TLineCase{"DtrDsr", hfDTRDSR, true, false, Handshake, Lowered, false, true}),
    [](const auto& instance) { return std::string(instance.param.name); });

TEST(SerialPortProperties, SendStringOnAClosedPortRaises) {
  TSerialPort port;
  port.SetPort(spCOM7);
  try {
    port.SendString("ATU?\r\n");
    FAIL() << "no exception";
  } catch (const ESerialPortException& error) {
    EXPECT_EQ(error.Kind(), TSerialErrorKind::NotOpen);
    EXPECT_STREQ(error.what(), "COM7 is not open. Serial port is not connected.");
  }
}

TEST(SerialPortProperties, CloseOnAClosedPortIsHarmless) {
  TSerialPort port;
  port.Close();
  port.Close();
  EXPECT_EQ(port.ConnectedPort(), spNone);
  EXPECT_FALSE(port.HoldsTimerResolution());
}

}  // namespace
