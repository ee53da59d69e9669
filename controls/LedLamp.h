// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TLedLamp: a small owner-drawn lamp that shows one Boolean as a lit or unlit picture and
// can blink while lit. The pictures are the twelve lamp bitmaps built into the program.
#pragma once

#include <QAccessible>
#include <QImage>
#include <QWidget>
#include <functional>

#include "controls/Color.h"

class QTimer;

enum TLEDStyle { LEDSmall, LEDLarge, LEDSqSmall, LEDSqLarge, LEDVertical, LEDHorizontal };

class TLedLamp : public QWidget {
 public:
  explicit TLedLamp(QWidget* parent = nullptr);
  ~TLedLamp() override;

  TColor TrueColor() const { return FTrueColor; }
  void SetTrueColor(TColor value);
  TColor FalseColor() const { return FFalseColor; }
  void SetFalseColor(TColor value);
  TColor BorderColor() const { return FBorderColor; }
  void SetBorderColor(TColor value);
  bool Blink() const { return FBlink; }
  void SetBlink(bool value);
  bool Bordered() const { return FBordered; }
  void SetBordered(bool value);
  bool Value() const { return FValue; }
  void SetValue(bool value);
  int Interval() const { return FInterval; }
  void SetInterval(int value);
  TLEDStyle LEDStyle() const { return FLEDStyle; }
  void SetLEDStyle(TLEDStyle value);
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool value) { FShowHint = value; }
  // What the lamp tells when lit ("Tuned"). Its tooltip and its accessible description say
  // it together with the state ("Tuned: lit"), so the lamp reads without telling colours apart.
  QString Meaning() const { return FMeaning; }
  void SetMeaning(const QString& value) { FMeaning = value; }

  // "lit", "unlit" or "blinking".
  QString StateText() const;
  // The meaning with the state ("Tuned: lit"); the state alone for a lamp without a meaning.
  QString HintText() const;
  // What a click does, for the accessibility action: OnClick, errors go to the error display.
  void Click();

  // Each is skipped while empty; Sender is always the lamp.
  std::function<void(QObject* Sender)> OnClick;
  std::function<void(QObject* Sender)> OnTimer;
  std::function<void(QObject* Sender)> OnMouseEnter;
  std::function<void(QObject* Sender)> OnMouseLeave;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void RebuildPictures();
  void ShowLit();
  void ShowUnlit();
  void StartBlink();
  void StopBlink();
  void BlinkTick();
  void ApplyInterval();
  void ChangeColor(TColor& field, TColor value);
  void NotifyStateChange(QAccessible::State changed);

  TColor FTrueColor = clLime;
  TColor FFalseColor = clSilver;
  TColor FBorderColor = clBtnFace;
  bool FBlink = true;
  bool FBordered = true;
  bool FValue = false;
  int FInterval = 1000;
  TLEDStyle FLEDStyle = LEDSmall;
  bool FShowHint = true;
  QString FMeaning;

  QImage LitPicture;
  QImage UnlitPicture;
  int ShownPhase = 1;
  QTimer* BlinkTimer;
  bool Blinking = false;
  bool ClickArmed = false;
};
