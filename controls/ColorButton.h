// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TColorButton: an owner-drawn push button with its own colours for the normal, hot and
// down states, an optional tiled back picture, and a latch that toggles at every release.
#pragma once

#include <QAccessible>
#include <QImage>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

#include "controls/Color.h"
#include "controls/SizeConstraints.h"

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// Placement along the parent's edges. An aligned button takes the whole width (top,
// bottom) or height (left, right) of its parent, or all of it (client), and follows the
// parent's resizing; other aligned siblings are not taken into account.
enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

class TColorButton : public QWidget {
 public:
  explicit TColorButton(QWidget* parent = nullptr);
  ~TColorButton() override;

  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign value);
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment value);
  const QImage& BackBitmap() const { return FBackBitmap; }
  void SetBackBitmap(const QImage& value);
  QString Caption() const { return FCaption; }
  void SetCaption(const QString& value);
  bool WordWrap() const { return FWordWrap; }
  void SetWordWrap(bool value);
  bool Latching() const { return FLatching; }
  void SetLatching(bool value) { FLatching = value; }
  bool Down() const { return FDown; }
  void SetDown(bool value);
  TSizeConstraints Constraints() const { return FConstraints; }
  void SetConstraints(const TSizeConstraints& value);
  bool Enabled() const { return isEnabled(); }
  void SetEnabled(bool value) { setEnabled(value); }
  bool Flat() const { return FFlat; }
  void SetFlat(bool value);
  // The caption's normal colour is the palette's WindowText, inherited like the font.
  QFont Font() const { return font(); }
  void SetFont(const QFont& value) { setFont(value); }
  int MarginHorizontal() const { return FMarginHorizontal; }
  void SetMarginHorizontal(int value);
  int MarginVertical() const { return FMarginVertical; }
  void SetMarginVertical(int value);
  TColor Color() const { return FColor; }
  void SetColor(TColor value);
  bool HotTrack() const { return FHotTrack; }
  void SetHotTrack(bool value) { FHotTrack = value; }
  TColor HotColor() const { return FHotColor; }
  void SetHotColor(TColor value) { FHotColor = value; }
  TColor DownColor() const { return FDownColor; }
  void SetDownColor(TColor value) { FDownColor = value; }
  TColor HotFontColor() const { return FHotFontColor; }
  void SetHotFontColor(TColor value) { FHotFontColor = value; }
  TColor DownFontColor() const { return FDownFontColor; }
  void SetDownFontColor(TColor value) { FDownFontColor = value; }
  QString Hint() const { return toolTip(); }
  void SetHint(const QString& value) { setToolTip(value); }
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool value) { FShowHint = value; }

  // Runs on a left click, before a latching button toggles Down; skipped while empty.
  std::function<void(QObject* Sender)> onclick;

  // A left click without the mouse, for the accessibility action: onclick under the error
  // display, then the latch toggles unless onclick failed. A disabled button ignores it.
  void Click();

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void GrowToFit();
  // Stores a value that changes the caption's measure: a shown button grows to it at once.
  template <typename T, typename V>
  void ChangeMeasure(T& field, const V& value) {
    if (field == value) return;
    field = value;
    if (isVisible()) GrowToFit();
    update();
  }
  void BackBitmapChanged();
  void DownChanged();
  void ApplyAlign();

  TAlign FAlign = alNone;
  TAlignment FAlignment = taCenter;
  QImage FBackBitmap;
  QString FCaption;
  bool FWordWrap = false;
  bool FLatching = false;
  bool FDown = false;
  TSizeConstraints FConstraints;
  bool FFlat = true;
  int FMarginHorizontal = 8;
  int FMarginVertical = 4;
  TColor FColor = clSilver;
  bool FHotTrack = true;
  TColor FHotColor = clYellow;
  TColor FDownColor = ColorFromRgb(0xA9, 0xA9, 0xA9);
  TColor FHotFontColor = clRed;
  TColor FDownFontColor = clBlack;
  bool FShowHint = true;

  bool Pressed = false;
  bool Hot = false;
  bool ClickArmed = false;
  // When this button last took the first press of a possible double click.
  std::optional<quint64> LastLeftPress;
};
