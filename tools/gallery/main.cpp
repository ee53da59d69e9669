// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// orvel_gallery [file.png]: draws every lamp style in both variants, lit and unlit, and the
// colour button in each of its states, and writes them as one PNG, enlarged three times
// without smoothing so that single pixels can be told apart. Runs without a display.
#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <cstdio>

#include "controls/ColorButton.h"
#include "controls/LedLamp.h"
#include "controls/PanelFont.h"

namespace {

constexpr int kScale = 3;

void Label(QWidget* parent, int x, int y, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->move(x, y);
  label->adjustSize();
}

void AddLamps(QWidget* panel) {
  const struct {
    TLEDStyle style;
    const char* name;
  } styles[] = {{LEDSmall, "LEDSmall"},       {LEDLarge, "LEDLarge"},
                {LEDSqSmall, "LEDSqSmall"},   {LEDSqLarge, "LEDSqLarge"},
                {LEDVertical, "LEDVertical"}, {LEDHorizontal, "LEDHorizontal"}};
  const TColor lit[] = {clLime, clRed, clYellow};
  Label(panel, 100, 4, QStringLiteral("framed: lit lime, red, yellow; unlit"));
  Label(panel, 330, 4, QStringLiteral("plain: lit lime, red, yellow; unlit"));
  int y = 24;
  for (const auto& style : styles) {
    Label(panel, 8, y + 4, QString::fromLatin1(style.name));
    for (const bool bordered : {true, false}) {
      int x = bordered ? 100 : 330;
      for (int i = 0; i < 4; ++i) {
        auto* lamp = new TLedLamp(panel);
        lamp->SetBlink(false);
        lamp->SetBordered(bordered);
        lamp->SetLEDStyle(style.style);
        if (i < 3) {
          lamp->SetTrueColor(lit[i]);
          lamp->SetValue(true);
        }
        lamp->move(x, y);
        x += 40;
      }
    }
    y += 30;
  }
}

TColorButton* AddButton(QWidget* panel, int x, int y, const QString& caption, const QString& note) {
  auto* button = new TColorButton(panel);
  button->move(x, y);
  button->resize(80, 24);
  button->SetCaption(caption);
  Label(panel, x, y + 30, note);
  return button;
}

void MakeHot(TColorButton* button) {
  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
  QApplication::sendEvent(button, &enter);
}

void HoldMouse(TColorButton* button) {
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(button, &press);
}

void AddButtons(QWidget* panel) {
  const int top = 214;
  AddButton(panel, 8, top, QStringLiteral("&Normal"), QStringLiteral("flat"));
  AddButton(panel, 98, top, QStringLiteral("Raised"), QStringLiteral("not flat"))->SetFlat(false);
  MakeHot(AddButton(panel, 188, top, QStringLiteral("Hot"), QStringLiteral("hot")));
  TColorButton* no_track =
      AddButton(panel, 278, top, QStringLiteral("No track"), QStringLiteral("hot, no HotTrack"));
  no_track->SetHotTrack(false);
  MakeHot(no_track);
  HoldMouse(AddButton(panel, 398, top, QStringLiteral("Held"), QStringLiteral("pressed")));
  AddButton(panel, 488, top, QStringLiteral("Down"), QStringLiteral("Down"))->SetDown(true);
  AddButton(panel, 578, top, QStringLiteral("Disabled"), QStringLiteral("disabled, not hot"))
      ->SetEnabled(false);

  const int second = top + 56;
  TColorButton* disabled =
      AddButton(panel, 8, second, QStringLiteral("Disabled"), QStringLiteral("disabled, hot"));
  disabled->SetEnabled(false);
  MakeHot(disabled);
  QImage tile(10, 10, QImage::Format_RGB32);
  tile.fill(QColor(0x80, 0xC0, 0xFF));
  for (int i = 0; i < 10; ++i) tile.setPixel(i, i, qRgb(0x00, 0x00, 0x80));
  AddButton(panel, 98, second, QStringLiteral("Picture"), QStringLiteral("back picture"))
      ->SetBackBitmap(tile);
  TColorButton* left =
      AddButton(panel, 188, second, QStringLiteral("Left"), QStringLiteral("left, raised"));
  left->SetAlignment(taLeftJustify);
  left->SetFlat(false);
  TColorButton* right =
      AddButton(panel, 278, second, QStringLiteral("Right"), QStringLiteral("right, raised"));
  right->SetAlignment(taRightJustify);
  right->SetFlat(false);
  TColorButton* wrapped = AddButton(panel, 398, second, QString(), QString());
  Label(panel, 488, second + 4, QStringLiteral("word wrap"));
  wrapped->SetWordWrap(true);
  wrapped->SetFlat(false);
  wrapped->SetCaption(QStringLiteral("Word wrapped caption here"));

  // The three buttons of the main window as it starts, and TUNE down.
  const int third = second + 76;
  Label(panel, 8, third - 16,
        QStringLiteral("main window: TUNE up and down, Open Port, Close Port"));
  for (const bool down : {false, true}) {
    auto* tune = new TColorButton(panel);
    tune->move(down ? 70 : 8, third);
    tune->resize(52, 41);
    tune->SetFont(PanelFont(11, true));
    tune->SetCaption(QStringLiteral("TUNE"));
    tune->SetFlat(false);
    tune->SetLatching(true);
    tune->SetColor(clBtnFace);
    tune->SetMarginHorizontal(2);
    tune->SetDownColor(clLime);
    tune->SetConstraints(TSizeConstraints{0, 0, 65, 0});
    tune->SetDown(down);
  }
  struct PortButton {
    int x;
    const char* caption;
    int margin;
    TColor down_color;
    TColor down_font;
    bool down;
  };
  for (const PortButton& p : {PortButton{140, "Open Port", 2, clLime, clBlack, false},
                              PortButton{215, "Close Port", 8, clRed, clWhite, true}}) {
    auto* button = new TColorButton(panel);
    button->move(p.x, third);
    button->resize(65, 24);
    button->SetCaption(QString::fromLatin1(p.caption));
    button->SetFlat(false);
    button->SetLatching(true);
    button->SetColor(clBtnFace);
    button->SetMarginHorizontal(p.margin);
    button->SetDownColor(p.down_color);
    button->SetDownFontColor(p.down_font);
    button->SetDown(p.down);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString path =
      argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("orvel-controls-gallery.png");

  QWidget panel;
  panel.resize(680, 400);
  panel.setFont(PanelFont(11));
  QPalette palette = panel.palette();
  palette.setColor(QPalette::WindowText, QColor(0x80, 0x00, 0x80));
  panel.setPalette(palette);
  AddLamps(&panel);
  AddButtons(&panel);
  panel.show();
  QCoreApplication::processEvents();

  const QImage shot = panel.grab().toImage();
  const QImage large =
      shot.scaled(shot.size() * kScale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  if (!large.save(path, "PNG")) {
    std::fprintf(stderr, "orvel_gallery: cannot write %s\n", qPrintable(path));
    return 1;
  }
  std::printf("%s\n", qPrintable(path));
  return 0;
}
