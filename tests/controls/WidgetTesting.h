// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Helpers shared by the widget tests: a shown host window, pixel grabs, waiting with a
// deadline, counting paints and driving the mouse through the window as a user would.
#pragma once

#include <QImage>
#include <QObject>
#include <QWidget>
#include <functional>

// A top-level window, shown and exposed, to put the controls on; the pointer rests in its
// bottom-right corner.
class HostWindow : public QWidget {
 public:
  explicit HostWindow(QSize size = QSize(200, 120));
};

QImage Grab(QWidget& widget);

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget& widget);
  int count = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

// Mouse input through the host's window, so that Qt's own routing (grabs, double-click
// detection, enter and leave) applies. Positions are in the widget's coordinates.
void Press(QWidget& widget, Qt::MouseButton button, QPoint at);
void Release(QWidget& widget, Qt::MouseButton button, QPoint at);
void Click(QWidget& widget, Qt::MouseButton button, QPoint at);
void DoubleClick(QWidget& widget, QPoint at);
void MoveTo(QWidget& widget, QPoint at);
