// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// What assistive technologies see of the lamp and the colour button: roles, names, states,
// descriptions and tooltips, the press action, and silence while nobody listens.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>
#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "controls/ColorButton.h"
#include "controls/LedLamp.h"
#include "controls/UserAction.h"
#include "tests/controls/WidgetTesting.h"

namespace {

QAccessibleInterface* Accessible(QWidget& widget) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&widget);
  EXPECT_NE(iface, nullptr);
  return iface;
}

// Presses through the action interface, as a screen reader does.
void PressAction(QWidget& widget) {
  QAccessibleActionInterface* actions = Accessible(widget)->actionInterface();
  ASSERT_NE(actions, nullptr);
  actions->doAction(QAccessibleActionInterface::pressAction());
}

// Collects the errors that actions report instead of showing a box.
class ReportedErrors {
 public:
  ReportedErrors() {
    SetUserActionErrorReporter([this](const std::string& message) { messages.push_back(message); });
  }
  ~ReportedErrors() { SetUserActionErrorReporter(nullptr); }
  std::vector<std::string> messages;
};

struct LampCase {
  bool value;
  bool blink;
  int interval;
  const char* meaning;
  const char* description;
  bool animated;
};

TEST(LampAccessibility, GraphicWithItsMeaningAndStateInDescriptionStatesAndTooltip) {
  const LampCase cases[] = {
      {false, false, 1000, "Tuned", "Tuned: unlit", false},
      {true, false, 1000, "Tuned", "Tuned: lit", false},
      {true, true, 1000, "Receive activity", "Receive activity: blinking", true},
      {false, true, 1000, "Receive activity", "Receive activity: unlit", false},
      {true, true, 0, "Tuning", "Tuning: lit", false},  // a zero interval never ticks
      {true, false, 1000, "", "lit", false},
  };
  for (const LampCase& c : cases) {
    SCOPED_TRACE(c.description);
    HostWindow host;
    auto* lamp = new TLedLamp(&host);
    lamp->show();
    lamp->setAccessibleName("Green lamp");
    lamp->SetMeaning(c.meaning);
    lamp->SetBlink(c.blink);
    lamp->SetInterval(c.interval);
    lamp->SetValue(c.value);

    QAccessibleInterface* iface = Accessible(*lamp);
    EXPECT_EQ(iface->role(), QAccessible::Graphic);
    EXPECT_EQ(iface->text(QAccessible::Name), "Green lamp");
    EXPECT_EQ(iface->text(QAccessible::Description), c.description);
    EXPECT_EQ(iface->state().checked, c.value);
    EXPECT_EQ(iface->state().animated, c.animated);
    EXPECT_FALSE(iface->state().focusable);

    QToolTip::hideText();
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), lamp->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(lamp, &help);
    const bool tooltip = *c.meaning != '\0';
    EXPECT_EQ(QToolTip::isVisible(), tooltip);
    if (tooltip) {
      EXPECT_EQ(QToolTip::text(), c.description);
    }
    QToolTip::hideText();
  }
}

TEST(LampAccessibility, TooltipFollowsTheLampAndShowHint) {
  HostWindow host;
  auto* lamp = new TLedLamp(&host);
  lamp->show();
  lamp->SetMeaning("Tuned");
  const auto shownTip = [lamp] {
    QToolTip::hideText();
    EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }))
        << "the earlier tooltip stays";
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), lamp->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(lamp, &help);
    return QToolTip::isVisible() ? QToolTip::text().toStdString() : std::string();
  };
  EXPECT_EQ(shownTip(), "Tuned: unlit");
  lamp->SetValue(true);
  EXPECT_EQ(shownTip(), "Tuned: blinking");
  lamp->SetShowHint(false);
  EXPECT_EQ(shownTip(), "");
}

TEST(LampAccessibility, PressActionOnlyForALampThatTakesClicksAndRunsFromTheEventLoop) {
  HostWindow host;
  auto* lamp = new TLedLamp(&host);
  EXPECT_TRUE(Accessible(*lamp)->actionInterface()->actionNames().isEmpty());

  ReportedErrors errors;
  int clicks = 0;
  lamp->OnClick = [&](QObject* sender) {
    EXPECT_EQ(sender, lamp);
    if (++clicks == 2) throw std::runtime_error("Port monitor unavailable");
  };
  EXPECT_EQ(Accessible(*lamp)->actionInterface()->actionNames(),
            QStringList{QAccessibleActionInterface::pressAction()});
  PressAction(*lamp);
  EXPECT_EQ(clicks, 0) << "the caller gets its answer before the click runs";
  ASSERT_TRUE(QTest::qWaitFor([&] { return clicks == 1; }));
  PressAction(*lamp);
  ASSERT_TRUE(QTest::qWaitFor([&] { return clicks == 2; }));
  EXPECT_EQ(errors.messages, std::vector<std::string>{"Port monitor unavailable"});
}

struct NameCase {
  const char* caption;
  const char* name;
};

TEST(ButtonAccessibility, PushButtonNamedByItsCaptionWithoutTheAccelerator) {
  const NameCase cases[] = {
      {"TUNE", "TUNE"},
      {"Connecting...", "Connecting..."},
      {"&Open Port", "Open Port"},
      {"Salt && pepper", "Salt & pepper"},
      {"End&", "End"},
      {"", ""},
  };
  HostWindow host;
  auto* button = new TColorButton(&host);
  QAccessibleInterface* iface = Accessible(*button);
  EXPECT_EQ(iface->role(), QAccessible::Button);
  for (const NameCase& c : cases) {
    button->SetCaption(c.caption);
    EXPECT_EQ(iface->text(QAccessible::Name), c.name) << c.caption;
  }
  button->setAccessibleName("Start tuning");
  EXPECT_EQ(iface->text(QAccessible::Name), "Start tuning") << "a name given by the window wins";
  button->SetHint("Starts a tuning cycle");
  EXPECT_EQ(iface->text(QAccessible::Description), "Starts a tuning cycle");
}

TEST(ButtonAccessibility, PressedStateFollowsTheLatch) {
  HostWindow host;
  auto* button = new TColorButton(&host);
  button->SetLatching(true);
  button->setGeometry(10, 10, 60, 24);
  button->show();
  QAccessibleInterface* iface = Accessible(*button);
  const auto expectDown = [iface](bool down) {
    EXPECT_EQ(iface->state().pressed, down);
    EXPECT_EQ(iface->state().checked, down) << "checked goes with pressed on a latching button";
  };
  EXPECT_TRUE(iface->state().checkable);
  expectDown(false);
  button->SetDown(true);
  expectDown(true);
  Click(*button, Qt::LeftButton, QPoint(5, 5));
  EXPECT_FALSE(button->Down());
  expectDown(false);
  Click(*button, Qt::LeftButton, QPoint(5, 5));
  expectDown(true);
  button->SetLatching(false);
  EXPECT_FALSE(iface->state().checkable);
  EXPECT_FALSE(iface->state().checked);
  EXPECT_TRUE(iface->state().pressed) << "a button held down by its owner";
}

TEST(ButtonAccessibility, PressActionIsALeftClickUnderTheErrorDisplay) {
  HostWindow host;
  auto* button = new TColorButton(&host);
  button->SetLatching(true);
  ReportedErrors errors;
  std::vector<bool> downSeen;
  bool fail = false;
  button->onclick = [&](QObject* sender) {
    EXPECT_EQ(sender, button);
    downSeen.push_back(button->Down());
    if (fail) throw std::runtime_error("COM7 is not open. Serial port is not connected.");
  };

  PressAction(*button);
  EXPECT_TRUE(downSeen.empty()) << "the caller gets its answer before the click runs";
  ASSERT_TRUE(QTest::qWaitFor([&] { return downSeen.size() == 1; }));
  EXPECT_FALSE(downSeen[0]) << "onclick runs before the latch toggles";
  EXPECT_TRUE(button->Down());

  fail = true;
  PressAction(*button);
  ASSERT_TRUE(QTest::qWaitFor([&] { return downSeen.size() == 2; }));
  EXPECT_TRUE(button->Down()) << "a failed click leaves the latch as it was";
  EXPECT_EQ(errors.messages,
            std::vector<std::string>{"COM7 is not open. Serial port is not connected."});

  button->setEnabled(false);
  EXPECT_TRUE(Accessible(*button)->actionInterface()->actionNames().isEmpty());
  button->Click();
  EXPECT_EQ(downSeen.size(), 2u) << "a disabled button ignores the click";
  EXPECT_TRUE(button->Down());
}

// The lamps flip for every logged line: while no assistive technology listens, the controls
// must not build a single accessibility event.
TEST(ControlsAccessibility, NoEventsWhileNobodyListens) {
  ASSERT_FALSE(QAccessible::isActive());
  HostWindow host;
  auto* lamp = new TLedLamp(&host);
  auto* button = new TColorButton(&host);
  button->SetLatching(true);
  static std::vector<QObject*> sources;
  sources.clear();
  const QAccessible::UpdateHandler previous = QAccessible::installUpdateHandler(
      [](QAccessibleEvent* event) { sources.push_back(event->object()); });
  for (int i = 0; i < 3; ++i) {
    lamp->SetValue(!lamp->Value());
    lamp->SetBlink(!lamp->Blink());
    button->SetDown(!button->Down());
    button->SetCaption(QString::number(i));
  }
  QAccessible::installUpdateHandler(previous);
  EXPECT_EQ(std::count(sources.begin(), sources.end(), lamp), 0);
  EXPECT_EQ(std::count(sources.begin(), sources.end(), button), 0);
}

}  // namespace
