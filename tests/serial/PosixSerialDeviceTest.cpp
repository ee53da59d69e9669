// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// How the line settings turn into termios (data bits, parity, stop bits and handshakes), and
// the kinds of failure that the device's calls report.
#include <gtest/gtest.h>

#include <functional>

#include "serial/posix/PosixSerialDevice.h"
#include "tools/tuner-sim/PseudoTerminal.h"

namespace {

struct TTermiosCase {
  const char* name;
  std::uint8_t dataBits;
  std::uint8_t parityCode;
  std::uint8_t stopBitsCode;
  tcflag_t expectedFlags;
};

constexpr tcflag_t FramingFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

class TermiosTest : public testing::TestWithParam<TTermiosCase> {};

TEST_P(TermiosTest, CarriesTheFraming) {
  TLineSettings settings;
  settings.DataBits = GetParam().dataBits;
  settings.ParityCode = GetParam().parityCode;
  settings.StopBitsCode = GetParam().stopBitsCode;
  const termios t = TPosixSerialDevice::Termios(settings, B9600);
  EXPECT_EQ(t.c_cflag & FramingFlags, GetParam().expectedFlags);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
}

INSTANTIATE_TEST_SUITE_P(
    Framing, TermiosTest,
    testing::Values(TTermiosCase{"EightNoneOne", 8, 0, 0, CS8},
                    TTermiosCase{"SevenEvenOne", 7, 2, 0, CS7 | PARENB},
                    TTermiosCase{"SevenOddTwo", 7, 1, 2, CS7 | PARENB | PARODD | CSTOPB},
                    TTermiosCase{"SixMark", 6, 3, 0, CS6 | PARENB | PARODD | CMSPAR},
                    TTermiosCase{"FiveSpace", 5, 4, 0, CS5 | PARENB | CMSPAR}),
    [](const auto& instance) { return std::string(instance.param.name); });

TEST(Termios, RawTransferWithReadsThatNeverWait) {
  TLineSettings settings;
  const termios t = TPosixSerialDevice::Termios(settings, B9600);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

struct TFlowCase {
  const char* name;
  bool ctsFlow;
  bool xonXoff;
  bool parityCheck;
  bool replaceParityErrors;
  tcflag_t cflags;
  tcflag_t iflags;
};

class FlowControlTest : public testing::TestWithParam<TFlowCase> {};

TEST_P(FlowControlTest, HandshakesAndParityChecking) {
  TLineSettings settings;
  settings.OutxCtsFlow = GetParam().ctsFlow;
  settings.OutX = settings.InX = GetParam().xonXoff;
  settings.ParityCheck = GetParam().parityCheck;
  settings.ReplaceParityErrors = GetParam().replaceParityErrors;
  settings.XonChar = 'Q';
  settings.XoffChar = 'S';
  const termios t = TPosixSerialDevice::Termios(settings, B9600);
  EXPECT_EQ(t.c_cflag & CRTSCTS, GetParam().cflags);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | IGNPAR), GetParam().iflags);
  EXPECT_EQ(t.c_cc[VSTART], 'Q');
  EXPECT_EQ(t.c_cc[VSTOP], 'S');
}

INSTANTIATE_TEST_SUITE_P(
    Flow, FlowControlTest,
    testing::Values(TFlowCase{"None", false, false, false, false, 0, 0},
                    TFlowCase{"RtsCts", true, false, false, false, CRTSCTS, 0},
                    TFlowCase{"XonXoff", false, true, false, false, 0, IXON | IXOFF},
                    TFlowCase{"ParityErrorsDropped", false, false, true, false, 0, INPCK | IGNPAR},
                    TFlowCase{"ParityErrorsReplaced", false, false, true, true, 0, INPCK}),
    [](const auto& instance) { return std::string(instance.param.name); });

// A failing device call and the kind it reports, on a real pseudo-terminal.
struct TFailureCase {
  const char* name;
  std::function<TSerialErrorKind(TPseudoTerminal&)> fail;
  TSerialErrorKind kind;
};

class DeviceFailureTest : public testing::TestWithParam<TFailureCase> {};

TEST_P(DeviceFailureTest, ReportsItsKind) {
  TPseudoTerminal terminal;
  EXPECT_EQ(GetParam().fail(terminal), GetParam().kind);
}

TSerialErrorKind OpenKind(const std::string& path) {
  TDeviceError error;
  const auto device = TPosixSerialDevice::Open(path, error);
  EXPECT_FALSE(device);
  return error.Kind;
}

TLineSettings Framing(std::uint8_t dataBits, std::uint8_t stopBitsCode) {
  TLineSettings settings;
  settings.BitsPerSecond = 9600;
  settings.DataBits = dataBits;
  settings.StopBitsCode = stopBitsCode;
  return settings;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, DeviceFailureTest,
    testing::Values(
        TFailureCase{"OpenMissing", [](TPseudoTerminal&) { return OpenKind("/dev/orvel-none"); },
                     TSerialErrorKind::NotFound},
        TFailureCase{"OpenHeld",
                     [](TPseudoTerminal& pty) {
                       TDeviceError error;
                       const auto holder = TPosixSerialDevice::Open(pty.SlavePath(), error);
                       return OpenKind(pty.SlavePath());
                     },
                     TSerialErrorKind::Busy},
        TFailureCase{"OneAndAHalfStopBitsWithEightBits",
                     [](TPseudoTerminal& pty) {
                       TDeviceError error;
                       const auto device = TPosixSerialDevice::Open(pty.SlavePath(), error);
                       EXPECT_FALSE(device->ApplyLineSettings(Framing(8, 1), error));
                       EXPECT_EQ(error.Message, "Invalid argument");
                       return error.Kind;
                     },
                     TSerialErrorKind::RefusedSetting},
        TFailureCase{"ReadAfterTheFarEndHungUp",
                     [](TPseudoTerminal& pty) {
                       TDeviceError error;
                       const auto device = TPosixSerialDevice::Open(pty.SlavePath(), error);
                       pty.CloseMaster();
                       char byte;
                       return device->Read(&byte, 1).Failure;
                     },
                     TSerialErrorKind::Vanished},
        TFailureCase{"ReadWithNothingThere",
                     [](TPseudoTerminal& pty) {
                       TDeviceError error;
                       const auto device = TPosixSerialDevice::Open(pty.SlavePath(), error);
                       char byte;
                       return device->Read(&byte, 1).Failure;
                     },
                     TSerialErrorKind::None}),
    [](const auto& instance) { return std::string(instance.param.name); });

}  // namespace
