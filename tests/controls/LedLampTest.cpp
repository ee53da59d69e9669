// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TLedLamp: what it draws in every style and variant, its size rules, blinking driven by
// its timer, the setters' compare-first rule, and the mouse notices.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>
#include <QTest>
#include <QTimer>

#include "controls/LedLamp.h"
#include "tests/controls/LampPictureData.h"
#include "tests/controls/WidgetTesting.h"

namespace {

constexpr QRgb kLimeRgb = 0xFF00FF00;
constexpr QRgb kSilverRgb = 0xFFC0C0C0;
constexpr QRgb kWhiteRgb = 0xFFFFFFFF;
constexpr QRgb kRedRgb = 0xFFFF0000;

QRgb Centre(TLedLamp& lamp) {
  const QImage image = Grab(lamp);
  return image.pixel(image.width() / 2, image.height() / 2);
}

bool TimerRunning(const TLedLamp& lamp) {
  for (const QTimer* timer : lamp.findChildren<QTimer*>()) {
    if (timer->isActive()) return true;
  }
  return false;
}

TEST(LedLamp, NewLampIsAnUnlitFramedSmallCircleWithSilverGlass) {
  TLedLamp lamp;
  EXPECT_EQ(lamp.size(), QSize(16, 16));
  EXPECT_FALSE(lamp.Value());
  EXPECT_TRUE(lamp.Blink());
  EXPECT_TRUE(lamp.Bordered());
  EXPECT_EQ(lamp.Interval(), 1000);
  EXPECT_EQ(lamp.LEDStyle(), LEDSmall);
  EXPECT_EQ(lamp.TrueColor(), clLime);
  EXPECT_EQ(lamp.FalseColor(), clSilver);
  EXPECT_EQ(lamp.BorderColor(), clBtnFace);
  EXPECT_EQ(lamp.focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(Grab(lamp), ExpectedLamp("BSM", QColor(kSilverRgb), QColor()));
}

struct DrawCase {
  TLEDStyle style;
  const char* framed;
  const char* plain;
};

void PrintTo(const DrawCase& c, std::ostream* out) {
  *out << c.framed;
}

class LedLampDrawing : public ::testing::TestWithParam<DrawCase> {};

// Every style, framed and plain, lit and unlit, with colours that occur nowhere in the
// pictures, so that a pixel recoloured by mistake shows.
TEST_P(LedLampDrawing, ShowsThePictureWithGlassAndSurroundRecoloured) {
  const DrawCase& c = GetParam();
  const QColor lit(0xFF, 0x00, 0x00);
  const QColor unlit(0x00, 0x00, 0x80);
  const QColor border(0xFF, 0xFF, 0x00);
  for (const bool bordered : {true, false}) {
    TLedLamp lamp;
    lamp.SetBlink(false);
    lamp.SetTrueColor(clRed);
    lamp.SetFalseColor(clNavy);
    lamp.SetBorderColor(clYellow);
    lamp.SetBordered(bordered);
    lamp.SetLEDStyle(c.style);
    const std::string name = bordered ? c.framed : c.plain;
    EXPECT_EQ(Grab(lamp), ExpectedLamp(name, unlit, border)) << name << " unlit";
    lamp.SetValue(true);
    EXPECT_EQ(Grab(lamp), ExpectedLamp(name, lit, border)) << name << " lit";
  }
}

INSTANTIATE_TEST_SUITE_P(AllStyles, LedLampDrawing,
                         ::testing::Values(DrawCase{LEDSmall, "BSM", "NSM"},
                                           DrawCase{LEDLarge, "BLG", "NLG"},
                                           DrawCase{LEDSqSmall, "BSQSM", "NSQSM"},
                                           DrawCase{LEDSqLarge, "BSQLG", "NSQLG"},
                                           DrawCase{LEDVertical, "BVT", "NVT"},
                                           DrawCase{LEDHorizontal, "BHZ", "NHZ"}),
                         [](const auto& instance) { return std::string(instance.param.framed); });

TEST(LedLamp, UnlitGlassInSilverStaysApartFromAPlainLampsSurround) {
  // The default unlit glass is silver like the surround; the fill of the surround must not
  // run into it.
  TLedLamp lamp;
  lamp.SetBordered(false);
  lamp.SetBorderColor(clRed);
  for (const TLEDStyle style :
       {LEDSmall, LEDLarge, LEDSqSmall, LEDSqLarge, LEDVertical, LEDHorizontal}) {
    lamp.SetLEDStyle(style);
    const QImage image = Grab(lamp);
    EXPECT_EQ(image.pixel(image.width() / 2, image.height() / 2), kSilverRgb) << style;
    EXPECT_EQ(image.pixel(0, 0), kRedRgb) << style;
  }
}

TEST(LedLamp, SystemBorderColourTakesTheCurrentPaletteWhenThePicturesAreBuilt) {
  const QPalette saved = QApplication::palette();
  QPalette palette = saved;
  palette.setColor(QPalette::Button, QColor(0x12, 0x34, 0x56));
  QApplication::setPalette(palette);
  {
    TLedLamp lamp;
    lamp.SetBordered(false);  // the default BorderColor is clBtnFace
    EXPECT_EQ(Grab(lamp).pixel(0, 0), QColor(0x12, 0x34, 0x56).rgb());
    EXPECT_EQ(ColorToQColor(clBtnFace), QColor(0x12, 0x34, 0x56));
  }
  QApplication::setPalette(saved);
}

TEST(LedLamp, FramedLampShowsItsRaisedCellWhateverTheBorderColour) {
  TLedLamp lamp;
  lamp.SetBorderColor(clRed);
  const QImage image = Grab(lamp);
  EXPECT_EQ(image.pixel(0, 0), kWhiteRgb);
  EXPECT_EQ(image.pixel(1, 1), kSilverRgb);
  EXPECT_EQ(image.pixel(15, 15), 0xFF808080);
}

TEST(LedLamp, StyleSetsTheSize) {
  struct SizeCase {
    TLEDStyle style;
    QSize size;
  };
  const SizeCase cases[] = {{LEDLarge, {22, 22}},      {LEDSqSmall, {16, 16}},
                            {LEDSqLarge, {22, 22}},    {LEDVertical, {16, 22}},
                            {LEDHorizontal, {22, 16}}, {LEDSmall, {16, 16}}};
  TLedLamp lamp;
  for (const SizeCase& c : cases) {
    lamp.resize(50, 50);
    lamp.SetLEDStyle(c.style);
    EXPECT_EQ(lamp.size(), c.size) << c.style;
  }
}

TEST(LedLamp, WiderControlStretchesThePictureUntilAColourChangeResetsTheSize) {
  TLedLamp lamp;
  lamp.resize(40, 16);
  QImage image = Grab(lamp);
  ASSERT_EQ(image.size(), QSize(40, 16));
  // The picture is stretched over the whole width: its left edge white, its right edge
  // grey, the silver glass in the middle.
  EXPECT_EQ(image.pixel(0, 8), kWhiteRgb);
  EXPECT_EQ(image.pixel(39, 8), 0xFF808080);
  EXPECT_EQ(image.pixel(20, 8), kSilverRgb);
  EXPECT_EQ(image.pixel(20, 0), kWhiteRgb);
  lamp.SetFalseColor(clRed);
  EXPECT_EQ(lamp.size(), QSize(16, 16));
}

TEST(LedLamp, DrawsScaledAtAnyDevicePixelRatio) {
  TLedLamp lamp;
  lamp.SetValue(true);
  QImage target(32, 32, QImage::Format_RGB32);
  target.setDevicePixelRatio(2.0);
  target.fill(Qt::black);
  lamp.render(&target);
  const QImage expected = ExpectedLamp("BSM", QColor(kLimeRgb), QColor());
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      ASSERT_EQ(target.pixel(x, y), expected.pixel(x / 2, y / 2)) << x << "," << y;
    }
  }
}

TEST(LedLamp, BlinksLitThenUnlitWithOnTimerAtEveryChange) {
  HostWindow host;
  TLedLamp lamp(&host);
  lamp.show();
  lamp.SetInterval(40);
  std::vector<QRgb> shown;
  lamp.OnTimer = [&](QObject* sender) {
    EXPECT_EQ(sender, &lamp);
    shown.push_back(Centre(lamp));
  };
  lamp.SetValue(true);
  EXPECT_EQ(Centre(lamp), kLimeRgb);  // lit at once
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown.size() >= 4; }));
  EXPECT_EQ(shown[0], kSilverRgb);
  EXPECT_EQ(shown[1], kLimeRgb);
  EXPECT_EQ(shown[2], kSilverRgb);
  EXPECT_EQ(shown[3], kLimeRgb);
}

TEST(LedLamp, ValueFalseStopsBlinkingAndShowsUnlitAtOnce) {
  HostWindow host;
  TLedLamp lamp(&host);
  lamp.show();
  lamp.SetInterval(20);
  int ticks = 0;
  lamp.OnTimer = [&](QObject*) { ++ticks; };
  lamp.SetValue(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 1; }));
  ASSERT_TRUE(TimerRunning(lamp));
  // Once lit again, switch off: the unlit picture shows at once and no tick follows.
  ASSERT_TRUE(QTest::qWaitFor([&] { return Centre(lamp) == kLimeRgb; }));
  lamp.SetValue(false);
  EXPECT_EQ(Centre(lamp), kSilverRgb);
  EXPECT_FALSE(TimerRunning(lamp));
  const int at_stop = ticks;
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(ticks, at_stop);
  EXPECT_EQ(Centre(lamp), kSilverRgb);
}

TEST(LedLamp, SwitchingOffFromInsideOnTimerIsSafe) {
  HostWindow host;
  TLedLamp lamp(&host);
  lamp.show();
  lamp.SetInterval(10);
  int ticks = 0;
  lamp.OnTimer = [&](QObject*) {
    ++ticks;
    lamp.SetValue(false);
  };
  lamp.SetValue(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ticks == 1; }));
  EXPECT_FALSE(TimerRunning(lamp));
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(Centre(lamp), kSilverRgb);
}

TEST(LedLamp, BlinkChangesSwapSteadyAndBlinking) {
  TLedLamp lamp;
  lamp.SetInterval(20);
  lamp.SetValue(true);
  ASSERT_TRUE(TimerRunning(lamp));
  lamp.SetBlink(false);  // steady lit
  EXPECT_FALSE(TimerRunning(lamp));
  EXPECT_EQ(Centre(lamp), kLimeRgb);
  lamp.SetBlink(true);  // blinking again, from the lit phase
  EXPECT_TRUE(TimerRunning(lamp));
  EXPECT_EQ(Centre(lamp), kLimeRgb);

  TLedLamp off;
  off.SetBlink(false);
  off.SetBlink(true);  // Value False: unlit, no timer
  EXPECT_FALSE(TimerRunning(off));
  EXPECT_EQ(Centre(off), kSilverRgb);
}

TEST(LedLamp, ColourChangeWhileBlinkingRestartsInTheLitPhase) {
  HostWindow host;
  TLedLamp lamp(&host);
  lamp.show();
  lamp.SetInterval(30);
  std::vector<QRgb> shown;
  QRgb after_change = 0;
  lamp.OnTimer = [&](QObject*) {
    shown.push_back(Centre(lamp));
    if (shown.size() == 1) {
      // In the unlit phase now: the new colour restarts the blinking, lit.
      lamp.SetTrueColor(clRed);
      after_change = Centre(lamp);
    }
  };
  lamp.SetValue(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown.size() >= 3; }));
  EXPECT_EQ(shown[0], kSilverRgb);
  EXPECT_EQ(after_change, kRedRgb);
  EXPECT_EQ(shown[1], kSilverRgb);
  EXPECT_EQ(shown[2], kRedRgb);
  EXPECT_EQ(lamp.findChildren<QTimer*>().size(), 1);  // the replaced timer is gone
}

TEST(LedLamp, IntervalZeroNeverTicks) {
  TLedLamp lamp;
  int ticks = 0;
  lamp.OnTimer = [&](QObject*) { ++ticks; };
  lamp.SetInterval(0);
  lamp.SetValue(true);
  // A Qt timer of 0 ms would fire on each of these passes.
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(ticks, 0);
  EXPECT_EQ(Centre(lamp), kLimeRgb);
  lamp.SetInterval(5);  // a later interval starts the ticking
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 1; }));
}

TEST(LedLamp, IntervalReachesARunningTimer) {
  TLedLamp lamp;
  lamp.SetValue(true);
  lamp.SetInterval(250);
  const auto timers = lamp.findChildren<QTimer*>();
  ASSERT_EQ(timers.size(), 1);
  EXPECT_EQ(timers.front()->interval(), 250);
  EXPECT_TRUE(timers.front()->isActive());
}

// What a setter draws before it returns on a shown lamp: a change that alters the look
// paints at once, assigning the present value paints nothing.
TEST(LedLamp, SettersPaintAtOnceOnlyWhenSomethingChanges) {
  struct SetterCase {
    const char* name;
    std::function<void(TLedLamp&)> assign;
    bool paints;
  };
  const SetterCase cases[] = {
      {"Value to True", [](TLedLamp& l) { l.SetValue(true); }, true},
      {"Value unchanged", [](TLedLamp& l) { l.SetValue(false); }, false},
      {"TrueColor", [](TLedLamp& l) { l.SetTrueColor(clRed); }, true},
      {"TrueColor unchanged", [](TLedLamp& l) { l.SetTrueColor(clLime); }, false},
      {"FalseColor", [](TLedLamp& l) { l.SetFalseColor(clRed); }, true},
      {"BorderColor", [](TLedLamp& l) { l.SetBorderColor(clRed); }, true},
      {"Bordered", [](TLedLamp& l) { l.SetBordered(false); }, true},
      {"Bordered unchanged", [](TLedLamp& l) { l.SetBordered(true); }, false},
      {"LEDStyle", [](TLedLamp& l) { l.SetLEDStyle(LEDLarge); }, true},
      {"LEDStyle unchanged", [](TLedLamp& l) { l.SetLEDStyle(LEDSmall); }, false},
      {"Blink", [](TLedLamp& l) { l.SetBlink(false); }, true},
      {"Blink unchanged", [](TLedLamp& l) { l.SetBlink(true); }, false},
      {"Interval", [](TLedLamp& l) { l.SetInterval(500); }, false},
  };
  HostWindow host;
  for (const SetterCase& c : cases) {
    TLedLamp lamp(&host);
    lamp.show();
    QCoreApplication::processEvents();
    PaintCounter paints(lamp);
    c.assign(lamp);
    EXPECT_EQ(paints.count > 0, c.paints) << c.name;
  }
}

TEST(LedLamp, FlippingValueFromTheMonitorShowsEachChange) {
  HostWindow host;
  TLedLamp lamp(&host);
  lamp.SetBlink(false);
  lamp.SetTrueColor(clRed);
  lamp.show();
  for (int i = 0; i < 4; ++i) {
    lamp.SetValue(!lamp.Value());
    EXPECT_EQ(Centre(lamp), lamp.Value() ? kRedRgb : kSilverRgb);
  }
}

TEST(LedLamp, ClickIsALeftPressAndReleaseInsideTheLamp) {
  struct ClickCase {
    const char* name;
    std::function<void(TLedLamp&)> act;
    int clicks;
  };
  const ClickCase cases[] = {
      {"left click",
       [](TLedLamp& l) {
         Click(l, Qt::LeftButton, {8, 8});
       },
       1},
      {"right click",
       [](TLedLamp& l) {
         Click(l, Qt::RightButton, {8, 8});
       },
       0},
      {"released outside",
       [](TLedLamp& l) {
         Press(l, Qt::LeftButton, {8, 8});
         Release(l, Qt::LeftButton, {60, 8});
       },
       0},
      {"double click",
       [](TLedLamp& l) {
         DoubleClick(l, {8, 8});
       },
       1},
  };
  for (const ClickCase& c : cases) {
    HostWindow host;
    TLedLamp lamp(&host);
    lamp.move(10, 10);
    lamp.show();
    int clicks = 0;
    lamp.OnClick = [&](QObject* sender) {
      EXPECT_EQ(sender, &lamp);
      ++clicks;
    };
    c.act(lamp);
    EXPECT_EQ(clicks, c.clicks) << c.name;
  }
}

TEST(LedLamp, PointerEnterAndLeaveReachTheirEvents) {
  HostWindow host;
  TLedLamp lamp(&host);
  lamp.move(10, 10);
  lamp.show();
  std::vector<std::string> seen;
  lamp.OnMouseEnter = [&](QObject* sender) {
    EXPECT_EQ(sender, &lamp);
    seen.push_back("enter");
  };
  lamp.OnMouseLeave = [&](QObject*) { seen.push_back("leave"); };
  MoveTo(lamp, {60, 60});
  MoveTo(lamp, {5, 5});
  MoveTo(lamp, {60, 60});
  EXPECT_EQ(seen, (std::vector<std::string>{"enter", "leave"}));
}

}  // namespace
