// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Helpers shared by the widget tests.
#include "tests/controls/WidgetTesting.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QPixmap>
#include <QTest>
#include <QWindow>

HostWindow::HostWindow(QSize size) {
  resize(size);
  show();
  // Grabs and mouse events of a window that was never exposed test nothing.
  if (!QTest::qWaitForWindowExposed(this)) ADD_FAILURE() << "the host window was never exposed";
  // The pointer rests in the bottom-right corner, away from the controls under test, so
  // that none starts out hot.
  const QPoint rest(size.width() - 1, size.height() - 1);
  QCursor::setPos(mapToGlobal(rest));
  QTest::mouseMove(windowHandle(), rest);
}

QImage Grab(QWidget& widget) {
  return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

PaintCounter::PaintCounter(QWidget& widget) {
  widget.installEventFilter(this);
}

bool PaintCounter::eventFilter(QObject*, QEvent* event) {
  if (event->type() == QEvent::Paint) ++count;
  return false;
}

namespace {

QWindow* WindowOf(QWidget& widget) {
  return widget.window()->windowHandle();
}

QPoint InWindow(QWidget& widget, QPoint at) {
  return widget.mapTo(widget.window(), at);
}

}  // namespace

void Press(QWidget& widget, Qt::MouseButton button, QPoint at) {
  QTest::mousePress(WindowOf(widget), button, {}, InWindow(widget, at));
}

void Release(QWidget& widget, Qt::MouseButton button, QPoint at) {
  QTest::mouseRelease(WindowOf(widget), button, {}, InWindow(widget, at));
}

void Click(QWidget& widget, Qt::MouseButton button, QPoint at) {
  QTest::mouseClick(WindowOf(widget), button, {}, InWindow(widget, at));
}

void DoubleClick(QWidget& widget, QPoint at) {
  QTest::mouseDClick(WindowOf(widget), Qt::LeftButton, {}, InWindow(widget, at));
}

void MoveTo(QWidget& widget, QPoint at) {
  QTest::mouseMove(WindowOf(widget), InWindow(widget, at));
}
