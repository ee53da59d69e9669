// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Port names and identifiers, and how Port, CustomPortName and PortName move together.
#include <gtest/gtest.h>

#include "serial/CommPort.h"
#include "serial/SerialPort.h"

namespace {

struct TNameCase {
  const char* name;
  TCommPort expected;
};

class CommPortFromNameTest : public testing::TestWithParam<TNameCase> {};

TEST_P(CommPortFromNameTest, GivesTheIdentifier) {
  EXPECT_EQ(CommPortFromName(GetParam().name), GetParam().expected)
      << '"' << GetParam().name << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Names, CommPortFromNameTest,
    testing::Values(TNameCase{"COM1", spCOM1}, TNameCase{"COM254", spCOM254},
                    TNameCase{"com3", spCOM3}, TNameCase{"cOm3", spCOM3},
                    TNameCase{"  COM3\t", spCOM3}, TNameCase{"\r\nCOM12 ", spCOM12},
                    TNameCase{"COM0", spCustom}, TNameCase{"COM01", spCustom},
                    TNameCase{"COM255", spCustom}, TNameCase{"COM1000", spCustom},
                    TNameCase{"COM 3", spCustom}, TNameCase{"COMX", spCustom},
                    TNameCase{"COM", spCustom}, TNameCase{"COM-1", spCustom},
                    TNameCase{"COM+1", spCustom}, TNameCase{"vcom1", spCustom},
                    TNameCase{"", spNone}, TNameCase{"   ", spNone}, TNameCase{"\t\r\n", spNone}));

struct TToNameCase {
  TCommPort port;
  const char* customName;
  const char* expected;
};

class CommPortToNameTest : public testing::TestWithParam<TToNameCase> {};

TEST_P(CommPortToNameTest, GivesTheName) {
  EXPECT_EQ(CommPortToName(GetParam().port, GetParam().customName), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, CommPortToNameTest,
    testing::Values(TToNameCase{spNone, "vcom1", ""}, TToNameCase{spCOM1, "vcom1", "COM1"},
                    TToNameCase{spCOM254, "x", "COM254"}, TToNameCase{spCustom, "vcom7", "vcom7"},
                    TToNameCase{spCustom, "  tuner ", "tuner"}, TToNameCase{spCustom, "", "vcom1"},
                    TToNameCase{spCustom, " \t", "vcom1"}, TToNameCase{spCustom, "COM5", "COM5"}));

TEST(SerialPortNames, PortWritesPortNameOnlyWhenTheIdentifierChanges) {
  TSerialPort port;
  port.SetPort(spCOM12);
  EXPECT_EQ(port.PortName(), "COM12");
  EXPECT_EQ(port.Port(), spCOM12);
  port.SetPort(spCOM12);
  EXPECT_EQ(port.PortName(), "COM12");
  port.SetPort(spNone);
  EXPECT_EQ(port.PortName(), "");
  EXPECT_EQ(port.Port(), spNone);
}

TEST(SerialPortNames, CustomPortNamedLikeAComPortReadsAsThatComPort) {
  TSerialPort port;
  port.SetCustomPortName("COM5");
  port.SetPort(spCustom);
  EXPECT_EQ(port.PortName(), "COM5");
  EXPECT_EQ(port.Port(), spCOM5);
}

TEST(SerialPortNames, CustomPortNameIsTrimmedAndFollowedOnlyByACustomPort) {
  TSerialPort port;
  port.SetPort(spCOM3);
  port.SetCustomPortName("  tuner\r\n");
  EXPECT_EQ(port.CustomPortName(), "tuner");
  EXPECT_EQ(port.PortName(), "COM3");

  port.SetPort(spCustom);
  EXPECT_EQ(port.PortName(), "tuner");
  port.SetCustomPortName(" atu ");
  EXPECT_EQ(port.PortName(), "atu");
  EXPECT_EQ(port.Port(), spCustom);
  EXPECT_EQ(port.CommPortToName(spCustom), "atu");
}

}  // namespace
