// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TColorButton: the state table with its frames to the pixel, caption placement and
// accelerators, growth within the size limits, back picture tiling, and the mouse
// sequences driven through the window as a user would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QTest>
#include <QToolTip>
#include <stdexcept>

#include "controls/ColorButton.h"
#include "controls/UserAction.h"
#include "tests/controls/WidgetTesting.h"

namespace {

constexpr QRgb kSilver = 0xFFC0C0C0;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kGray = 0xFF808080;
constexpr QRgb kYellow = 0xFFFFFF00;
constexpr QRgb kRed = 0xFFFF0000;
constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kDownGrey = 0xFFA9A9A9;
constexpr QRgb kPurple = 0xFF800080;

// A font without smoothing, so that every caption pixel is exactly the caption colour.
QFont SharpFont(int pixels = 11) {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixels);
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

// A window with the main window's look: purple text in an unsmoothed 11-pixel font.
class ButtonHost : public HostWindow {
 public:
  ButtonHost() {
    setFont(SharpFont());
    QPalette p = palette();
    p.setColor(QPalette::WindowText, QColor(kPurple));
    setPalette(p);
  }
};

QRect PixelsOf(const QImage& image, QRgb colour) {
  QRect box;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixel(x, y) == colour) box |= QRect(x, y, 1, 1);
    }
  }
  return box;
}

struct Ring {
  QRgb top_left;  // top row, left column and the top-right corner
  QRgb bottom_right;
};

void ExpectRing(const QImage& image, const Ring& ring, const std::string& label) {
  const int w = image.width();
  const int h = image.height();
  for (int x = 0; x < w; ++x) {
    EXPECT_EQ(image.pixel(x, 0), ring.top_left) << label << " top " << x;
    EXPECT_EQ(image.pixel(x, h - 1), ring.bottom_right) << label << " bottom " << x;
  }
  for (int y = 1; y < h - 1; ++y) {
    EXPECT_EQ(image.pixel(0, y), ring.top_left) << label << " left " << y;
    EXPECT_EQ(image.pixel(w - 1, y), ring.bottom_right) << label << " right " << y;
  }
}

TEST(ColorButton, NewButtonIsAFlatSilverSquare) {
  ButtonHost host;
  TColorButton button(&host);
  button.show();
  EXPECT_EQ(button.size(), QSize(24, 24));
  EXPECT_TRUE(button.Flat());
  EXPECT_FALSE(button.Latching());
  EXPECT_FALSE(button.Down());
  EXPECT_FALSE(button.WordWrap());
  EXPECT_EQ(button.Alignment(), taCenter);
  EXPECT_EQ(button.MarginHorizontal(), 8);
  EXPECT_EQ(button.MarginVertical(), 4);
  EXPECT_EQ(button.Color(), clSilver);
  EXPECT_TRUE(button.HotTrack());
  EXPECT_EQ(button.HotColor(), clYellow);
  EXPECT_EQ(button.DownColor(), ColorFromRgb(0xA9, 0xA9, 0xA9));
  EXPECT_EQ(button.HotFontColor(), clRed);
  EXPECT_EQ(button.DownFontColor(), clBlack);
  EXPECT_EQ(button.focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(PixelsOf(Grab(button), kSilver), QRect(0, 0, 24, 24));
  EXPECT_EQ(Grab(button).pixel(0, 0), kSilver);
}

// The four rows of the state table: face, frame and caption colour.
TEST(ColorButton, EachStateRowHasItsFaceFrameAndCaptionColour) {
  struct StateCase {
    const char* name;
    bool flat;
    bool hot_track;
    bool enabled;
    bool hover;
    bool down;
    bool hold;  // a mouse button held on the button
    QRgb face;
    const Ring* frame;
    QRgb caption;
  };
  const Ring raised{kWhite, kGray};
  const Ring sunken{kGray, kWhite};
  const StateCase cases[] = {
      {"flat, normal", true, true, true, false, false, false, kSilver, nullptr, kPurple},
      {"raised, normal", false, true, true, false, false, false, kSilver, &raised, kPurple},
      {"hot", true, true, true, true, false, false, kYellow, &raised, kRed},
      {"hot without HotTrack", true, false, true, true, false, false, kSilver, &raised, kPurple},
      {"down", true, true, true, false, true, false, kDownGrey, &sunken, kBlack},
      {"down and hot", true, true, true, true, true, false, kDownGrey, &sunken, kBlack},
      {"held", false, true, true, true, false, true, kDownGrey, &sunken, kBlack},
      {"disabled and hot", true, true, false, true, false, false, kYellow, &raised, kRed},
      {"disabled and down", true, true, false, false, true, false, kDownGrey, &sunken, kBlack},
  };
  for (const StateCase& c : cases) {
    ButtonHost host;
    TColorButton button(&host);
    button.move(20, 20);
    button.resize(60, 30);
    button.SetCaption(QStringLiteral("HH"));
    button.SetFlat(c.flat);
    button.SetHotTrack(c.hot_track);
    button.SetEnabled(c.enabled);
    button.SetDown(c.down);
    button.show();
    MoveTo(button, {-15, -15});
    if (c.hover) MoveTo(button, {30, 15});
    if (c.hold) Press(button, Qt::LeftButton, {30, 15});
    const QImage image = Grab(button);
    EXPECT_EQ(image.pixel(3, 3), c.face) << c.name;
    if (c.frame != nullptr) {
      ExpectRing(image, *c.frame, c.name);
    } else {
      ExpectRing(image, Ring{c.face, c.face}, c.name);
    }
    EXPECT_FALSE(PixelsOf(image, c.caption).isEmpty()) << c.name << ": caption colour missing";
    for (const QRgb other : {kPurple, kRed, kBlack}) {
      if (other != c.caption) {
        EXPECT_TRUE(PixelsOf(image, other).isEmpty()) << c.name;
      }
    }
    if (c.hold) Release(button, Qt::LeftButton, {30, 15});
  }
}

// With the toolkit's own palette, whose disabled text is grey, a disabled button still looks
// exactly like an enabled one in the same state.
TEST(ColorButton, DisabledLooksLikeEnabledWithTheDefaultPalette) {
  struct LookCase {
    const char* name;
    bool flat;
    bool down;
  };
  const LookCase cases[] = {
      {"flat, not hot", true, false}, {"raised, not hot", false, false}, {"down", false, true}};
  for (const LookCase& c : cases) {
    QImage looks[2];
    QRgb text = 0;
    for (const bool enabled : {true, false}) {
      HostWindow host;
      host.setFont(SharpFont());
      text = host.palette().color(QPalette::Active, QPalette::WindowText).rgb();
      ASSERT_NE(host.palette().color(QPalette::Disabled, QPalette::WindowText).rgb(), text);
      TColorButton button(&host);
      button.move(20, 20);
      button.resize(60, 30);
      button.SetCaption(QStringLiteral("HH"));
      button.SetFlat(c.flat);
      button.SetDown(c.down);
      button.SetEnabled(enabled);
      button.show();
      MoveTo(button, {-15, -15});
      looks[enabled ? 0 : 1] = Grab(button);
    }
    EXPECT_FALSE(PixelsOf(looks[0], c.down ? kBlack : text).isEmpty())
        << c.name << ": the caption is drawn";
    EXPECT_EQ(looks[0], looks[1]) << c.name;
  }
}

TEST(ColorButton, HotColourAssignedWhileHotWaitsForTheNextRedraw) {
  ButtonHost host;
  TColorButton button(&host);
  button.move(20, 20);
  button.show();
  MoveTo(button, {10, 10});
  QCoreApplication::processEvents();
  PaintCounter paints(button);
  button.SetHotColor(clRed);
  button.SetHotFontColor(clBlack);
  button.SetDownColor(clRed);
  button.SetHotTrack(false);
  button.SetLatching(true);
  QCoreApplication::processEvents();
  EXPECT_EQ(paints.count, 0);
  button.SetHotTrack(true);
  EXPECT_EQ(Grab(button).pixel(3, 3), kRed);  // the next paint takes it
}

TEST(ColorButton, DownAndLookSettersRequestARedrawOnlyOnChange) {
  struct SetterCase {
    const char* name;
    std::function<void(TColorButton&)> assign;
    bool redraws;
  };
  const SetterCase cases[] = {
      {"Down", [](TColorButton& b) { b.SetDown(true); }, true},
      {"Down unchanged", [](TColorButton& b) { b.SetDown(false); }, false},
      {"Caption", [](TColorButton& b) { b.SetCaption(QStringLiteral("A")); }, true},
      {"Caption unchanged", [](TColorButton& b) { b.SetCaption(QString()); }, false},
      {"Flat", [](TColorButton& b) { b.SetFlat(false); }, true},
      {"Color", [](TColorButton& b) { b.SetColor(clRed); }, true},
      {"Color unchanged", [](TColorButton& b) { b.SetColor(clSilver); }, false},
      {"Alignment", [](TColorButton& b) { b.SetAlignment(taLeftJustify); }, true},
      {"WordWrap", [](TColorButton& b) { b.SetWordWrap(true); }, true},
      {"MarginHorizontal", [](TColorButton& b) { b.SetMarginHorizontal(2); }, true},
      {"MarginVertical unchanged", [](TColorButton& b) { b.SetMarginVertical(4); }, false},
      {"Font", [](TColorButton& b) { b.SetFont(SharpFont(15)); }, true},
      {"BackBitmap", [](TColorButton& b) { b.SetBackBitmap(QImage(4, 4, QImage::Format_RGB32)); },
       true},
  };
  for (const SetterCase& c : cases) {
    ButtonHost host;
    TColorButton button(&host);
    button.show();
    QCoreApplication::processEvents();
    PaintCounter paints(button);
    c.assign(button);
    QCoreApplication::processEvents();
    EXPECT_EQ(paints.count > 0, c.redraws) << c.name;
  }
}

// The caption sits in the text rectangle by alignment; while down it moves one pixel
// right and one down.
TEST(ColorButton, CaptionPlacementAndPressedOffset) {
  struct PlaceCase {
    TAlignment alignment;
    bool wrap;
  };
  const PlaceCase cases[] = {{taLeftJustify, false}, {taRightJustify, false}, {taCenter, false},
                             {taLeftJustify, true},  {taRightJustify, true},  {taCenter, true}};
  for (const PlaceCase& c : cases) {
    const std::string label = std::to_string(c.alignment) + (c.wrap ? " wrapped" : " single");
    ButtonHost host;
    TColorButton button(&host);
    button.resize(80, 40);
    button.SetMarginHorizontal(6);
    button.SetMarginVertical(5);
    button.SetAlignment(c.alignment);
    button.SetWordWrap(c.wrap);
    button.SetCaption(QStringLiteral("HIH"));
    // The same colours up and down, so that only the position differs.
    button.SetDownColor(clSilver);
    button.SetDownFontColor(clPurple);
    button.show();
    ASSERT_EQ(button.size(), QSize(80, 40)) << label;
    const QRect up = PixelsOf(Grab(button), kPurple);
    ASSERT_FALSE(up.isEmpty()) << label;
    button.SetDown(true);
    const QRect down = PixelsOf(Grab(button), kPurple);
    EXPECT_EQ(down, up.translated(1, 1)) << label;

    const QFontMetrics metrics(SharpFont());
    const int text_width = metrics.horizontalAdvance(QStringLiteral("HIH"));
    switch (c.alignment) {
      case taLeftJustify:
        EXPECT_GE(up.left(), 6) << label;
        EXPECT_LE(up.left(), 7) << label;
        break;
      case taRightJustify:
        EXPECT_LE(up.right(), 80 - 6 - 1) << label;
        EXPECT_GE(up.right(), 80 - 6 - 3) << label;
        break;
      case taCenter:
        EXPECT_LE(std::abs((up.left() + up.right()) - 79), 3) << label;
        break;
    }
    EXPECT_LE(up.width(), text_width) << label;
    if (c.wrap) {
      // From the top of the text rectangle, not centred.
      EXPECT_GE(up.top(), 5) << label;
      EXPECT_LE(up.top(), 5 + metrics.ascent() - metrics.capHeight() + 1) << label;
    } else {
      EXPECT_LE(std::abs((up.top() + up.bottom()) - 39), 4) << label;
    }
  }
}

TEST(ColorButton, AmpersandUnderlinesTheNextLetterAndTwoDrawOne) {
  ButtonHost host;
  TColorButton plain(&host);
  TColorButton marked(&host);
  TColorButton doubled(&host);
  for (TColorButton* b : {&plain, &marked, &doubled}) {
    b->resize(80, 30);
    b->SetAlignment(taLeftJustify);
    b->show();
  }
  plain.SetCaption(QStringLiteral("HI"));
  marked.SetCaption(QStringLiteral("&HI"));
  doubled.SetCaption(QStringLiteral("H&&I"));
  const QRect text = PixelsOf(Grab(plain), kPurple);
  const QRect underlined = PixelsOf(Grab(marked), kPurple);
  // Same letters, plus a line under the H.
  // The line spans the H's whole advance, so it may start a pixel before the H's ink.
  EXPECT_LE(underlined.left(), text.left());
  EXPECT_GE(underlined.left(), text.left() - 2);
  EXPECT_EQ(underlined.top(), text.top());
  EXPECT_GT(underlined.bottom(), text.bottom());
  EXPECT_EQ(underlined.right(), text.right());
  const QFontMetrics metrics(SharpFont());
  EXPECT_EQ(doubled.width(), 80);
  const QRect with_ampersand = PixelsOf(Grab(doubled), kPurple);
  EXPECT_GT(with_ampersand.width(), text.width() + metrics.horizontalAdvance('&') / 2);
  EXPECT_LT(with_ampersand.width(), text.width() + 2 * metrics.horizontalAdvance('&'));
}

TEST(ColorButton, GrowsToTheCaptionWithinItsLimitsAndNeverShrinks) {
  ButtonHost host;
  TColorButton button(&host);
  button.resize(30, 24);
  button.SetMarginHorizontal(2);
  button.show();
  const QFontMetrics metrics(SharpFont());
  const QString caption = QStringLiteral("Connecting...");
  button.SetCaption(caption);
  EXPECT_EQ(button.width(), metrics.horizontalAdvance(caption) + 2 * 2);
  EXPECT_EQ(button.height(), 24);

  button.SetCaption(QStringLiteral("A"));  // shorter: no shrinking
  EXPECT_EQ(button.width(), metrics.horizontalAdvance(caption) + 2 * 2);

  TColorButton capped(&host);
  capped.resize(52, 24);
  capped.SetMarginHorizontal(2);
  capped.SetConstraints(TSizeConstraints{0, 0, 65, 0});
  capped.show();
  capped.SetCaption(QStringLiteral("A much longer caption than fits"));
  EXPECT_EQ(capped.width(), 65);

  TColorButton tall(&host);
  tall.resize(40, 10);
  tall.show();
  tall.SetCaption(QStringLiteral("x"));
  EXPECT_EQ(tall.height(), metrics.height() + 2 * 4);
  EXPECT_EQ(tall.width(), 40);
}

TEST(ColorButton, ASmallerSizeGrowsBackAtTheNextPaint) {
  ButtonHost host;
  TColorButton button(&host);
  button.show();
  button.SetCaption(QStringLiteral("Close Port"));
  const int width = button.width();
  button.resize(10, 10);
  // Back to the caption's needs, which in height are less than the 24 it had.
  const QFontMetrics metrics(SharpFont());
  EXPECT_TRUE(QTest::qWaitFor([&] {
    return button.size() == QSize(width, metrics.height() + 2 * 4);
  })) << button.width()
      << " x " << button.height();
}

TEST(ColorButton, WordWrapGrowsOnlyInHeight) {
  ButtonHost host;
  TColorButton button(&host);
  button.resize(60, 20);
  button.SetWordWrap(true);
  button.show();
  const QString caption = QStringLiteral("one two three four five");
  button.SetCaption(caption);
  const QFontMetrics metrics(SharpFont());
  const QRect laid = metrics.boundingRect(QRect(8, 4, 60 - 16, 20 - 4),
                                          Qt::TextWordWrap | Qt::AlignHCenter, caption);
  EXPECT_GT(laid.height(), metrics.height());  // more than one line
  EXPECT_EQ(button.width(), 60);
  EXPECT_EQ(button.height(), laid.height() + 4 + 1);
  // Every line is drawn: the caption reaches down to the last line.
  const QRect drawn = PixelsOf(Grab(button), kPurple);
  EXPECT_GT(drawn.bottom(), 4 + laid.height() - metrics.height());
}

TEST(ColorButton, BackPictureIsTiledOverTheFaceInEveryState) {
  ButtonHost host;
  TColorButton button(&host);
  button.show();
  QImage tile(10, 10, QImage::Format_RGB32);
  tile.fill(QColor(0, 0, 0xFF));
  tile.setPixel(0, 0, kRed);
  button.SetBackBitmap(tile);
  QImage image = Grab(button);
  for (int y = 0; y < 24; ++y) {
    for (int x = 0; x < 24; ++x) {
      const QRgb expected = (x % 10 == 0 && y % 10 == 0) ? kRed : 0xFF0000FF;
      ASSERT_EQ(image.pixel(x, y), expected) << x << "," << y;
    }
  }
  button.SetDown(true);
  image = Grab(button);
  ExpectRing(image, Ring{kGray, kWhite}, "down over the picture");
  EXPECT_EQ(image.pixel(10, 10), kRed);
  EXPECT_EQ(image.pixel(20, 20), kRed);
  EXPECT_TRUE(PixelsOf(image, kDownGrey).isEmpty());

  button.SetBackBitmap(QImage(0, 5, QImage::Format_RGB32));  // counts as none
  EXPECT_EQ(Grab(button).pixel(5, 5), kDownGrey);
}

TEST(ColorButton, FrameStaysOneControlPixelAtAnyDevicePixelRatio) {
  TColorButton button;
  button.SetFlat(false);
  QImage target(48, 48, QImage::Format_RGB32);
  target.setDevicePixelRatio(2.0);
  target.fill(Qt::black);
  button.render(&target);
  EXPECT_EQ(target.pixel(0, 0), kWhite);
  EXPECT_EQ(target.pixel(1, 1), kWhite);
  EXPECT_EQ(target.pixel(2, 2), kSilver);
  EXPECT_EQ(target.pixel(47, 47), kGray);
  EXPECT_EQ(target.pixel(46, 46), kGray);
  EXPECT_EQ(target.pixel(47, 0), kWhite);
  EXPECT_EQ(target.pixel(0, 47), kGray);
}

struct MouseCase {
  const char* name;
  bool latching;
  bool enabled;
  std::function<void(TColorButton&)> act;
  int clicks;
  bool down_after;
};

void PrintTo(const MouseCase& c, std::ostream* out) {
  *out << c.name;
}

class ColorButtonMouse : public ::testing::TestWithParam<MouseCase> {};

TEST_P(ColorButtonMouse, LatchAndOnclickFollowThePressesAndReleases) {
  const MouseCase& c = GetParam();
  ButtonHost host;
  TColorButton button(&host);
  button.move(20, 20);
  button.SetLatching(c.latching);
  button.SetEnabled(c.enabled);
  button.show();
  int clicks = 0;
  button.onclick = [&](QObject* sender) {
    EXPECT_EQ(sender, &button);
    EXPECT_FALSE(button.Down()) << "onclick runs before the latch toggles";
    ++clicks;
  };
  c.act(button);
  EXPECT_EQ(clicks, c.clicks);
  EXPECT_EQ(button.Down(), c.down_after);
  // Nothing stays pressed once every button is up.
  MoveTo(button, {-10, -10});
  EXPECT_EQ(Grab(button).pixel(3, 3), c.down_after ? kDownGrey : kSilver);
}

const QPoint kInside(10, 10);

// Enables a disabled button once a mouse button is released over it.
class EnableOnRelease : public QObject {
 public:
  explicit EnableOnRelease(TColorButton& button) : button_(button) {
    button.installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::MouseButtonRelease || button_.isEnabled()) return false;
    // The disabled button would ignore this release: it ends here, before the button is enabled.
    button_.SetEnabled(true);
    return true;
  }

 private:
  TColorButton& button_;
};

INSTANTIATE_TEST_SUITE_P(
    Sequences, ColorButtonMouse,
    ::testing::Values(
        MouseCase{"LeftClick", true, true,
                  [](TColorButton& b) { Click(b, Qt::LeftButton, kInside); }, 1, true},
        MouseCase{"DraggedOff", true, true,
                  [](TColorButton& b) {
                    Press(b, Qt::LeftButton, kInside);
                    MoveTo(b, {100, 60});
                    Release(b, Qt::LeftButton, {100, 60});
                  },
                  0, true},
        MouseCase{"RightClick", true, true,
                  [](TColorButton& b) { Click(b, Qt::RightButton, kInside); }, 0, true},
        MouseCase{"MiddleClick", true, true,
                  [](TColorButton& b) { Click(b, Qt::MiddleButton, kInside); }, 0, true},
        MouseCase{"DoubleClick", true, true, [](TColorButton& b) { DoubleClick(b, kInside); }, 1,
                  false},
        MouseCase{"NotLatching", false, true,
                  [](TColorButton& b) { Click(b, Qt::LeftButton, kInside); }, 1, false},
        MouseCase{"Disabled", true, false,
                  [](TColorButton& b) { Click(b, Qt::LeftButton, kInside); }, 0, false},
        MouseCase{"DisabledDoubleClick", true, false,
                  [](TColorButton& b) { DoubleClick(b, kInside); }, 0, false},
        // The first press of the pair went to the button while it was disabled: the second one,
        // which arrives as a double click, is the button's first press and makes a click.
        MouseCase{"DoubleClickWhoseFirstPressWasNotTheButtons", true, false,
                  [](TColorButton& b) {
                    EnableOnRelease enabler(b);
                    DoubleClick(b, kInside);
                  },
                  1, true}),
    [](const auto& instance) { return std::string(instance.param.name); });

TEST(ColorButton, PressedLookLastsOnlyWhileHeldOnANonLatchingButton) {
  ButtonHost host;
  TColorButton button(&host);
  button.move(20, 20);
  button.show();
  Press(button, Qt::LeftButton, kInside);
  EXPECT_EQ(Grab(button).pixel(3, 3), kDownGrey);
  Release(button, Qt::LeftButton, kInside);
  MoveTo(button, {-10, -10});
  EXPECT_EQ(Grab(button).pixel(3, 3), kSilver);
}

TEST(ColorButton, DownAssignedInsideOnclickIsToggledByTheRelease) {
  ButtonHost host;
  TColorButton button(&host);
  button.move(20, 20);
  button.SetLatching(true);
  button.show();
  button.onclick = [&](QObject*) { button.SetDown(true); };
  Click(button, Qt::LeftButton, kInside);
  EXPECT_FALSE(button.Down());
}

TEST(ColorButton, AlignFollowsTheParentsEdges) {
  struct AlignCase {
    TAlign align;
    QRect geometry;  // in a 200 x 100 parent, for a 40 x 20 button
    QRect after;     // once the parent is 300 x 150
  };
  const AlignCase cases[] = {
      {alNone, {5, 6, 40, 20}, {5, 6, 40, 20}},
      {alTop, {0, 0, 200, 20}, {0, 0, 300, 20}},
      {alBottom, {0, 80, 200, 20}, {0, 130, 300, 20}},
      {alLeft, {0, 0, 40, 100}, {0, 0, 40, 150}},
      {alRight, {160, 0, 40, 100}, {260, 0, 40, 150}},
      {alClient, {0, 0, 200, 100}, {0, 0, 300, 150}},
  };
  for (const AlignCase& c : cases) {
    HostWindow parent(QSize(200, 100));
    TColorButton button(&parent);
    button.setGeometry(5, 6, 40, 20);
    button.SetAlign(c.align);
    EXPECT_EQ(button.geometry(), c.geometry) << c.align;
    parent.resize(300, 150);
    EXPECT_EQ(button.geometry(), c.after) << c.align;
  }
}

TEST(ColorButton, ShowHintSwitchesTheTooltipOnAndOff) {
  ButtonHost host;
  TColorButton button(&host);
  button.SetHint(QStringLiteral("Opens the port"));
  button.show();
  for (const bool show : {false, true}) {
    QToolTip::hideText();
    button.SetShowHint(show);
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), button.mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(&button, &help);
    EXPECT_EQ(QToolTip::isVisible(), show);
    EXPECT_EQ(QToolTip::isVisible() ? QToolTip::text() : QString(),
              show ? QStringLiteral("Opens the port") : QString());
  }
  QToolTip::hideText();
}

// Calls the mouse handlers directly, so that an exception from onclick does not have to
// travel through Qt's event delivery.
class DirectButton : public TColorButton {
 public:
  void Send(QEvent::Type type, Qt::MouseButton button) {
    QMouseEvent event(type, QPointF(5, 5), QPointF(5, 5), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
    if (type == QEvent::MouseButtonPress) {
      mousePressEvent(&event);
    } else {
      mouseReleaseEvent(&event);
    }
  }
};

TEST(ColorButton, FailingOnclickLeavesTheLatchAndDoesNotStayPressed) {
  DirectButton button;
  button.SetLatching(true);
  button.onclick = [](QObject*) { throw std::runtime_error("Cannot connect to COM7."); };
  std::vector<std::string> reported;
  SetUserActionErrorReporter([&](const std::string& message) { reported.push_back(message); });
  button.Send(QEvent::MouseButtonPress, Qt::LeftButton);
  EXPECT_EQ(Grab(button).pixel(3, 3), kDownGrey);
  EXPECT_NO_THROW(button.Send(QEvent::MouseButtonRelease, Qt::LeftButton))
      << "the error goes to the error display, not through the event dispatch";
  SetUserActionErrorReporter(nullptr);
  EXPECT_EQ(reported, std::vector<std::string>{"Cannot connect to COM7."});
  EXPECT_FALSE(button.Down());
  EXPECT_EQ(Grab(button).pixel(3, 3), kSilver);
  // The next click works as usual.
  button.onclick = nullptr;
  button.Send(QEvent::MouseButtonPress, Qt::LeftButton);
  button.Send(QEvent::MouseButtonRelease, Qt::LeftButton);
  EXPECT_TRUE(button.Down());
}

}  // namespace
