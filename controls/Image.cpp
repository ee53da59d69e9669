// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Stretched SVG picture.
#include "controls/Image.h"

#include <QAccessibleWidget>
#include <QPainter>

namespace {

// A picture is a graphic to assistive technologies, named by the window.
QAccessibleInterface* ImageAccessible(const QString&, QObject* object) {
  auto* image = dynamic_cast<TImage*>(object);
  return image != nullptr ? new QAccessibleWidget(image, QAccessible::Graphic) : nullptr;
}

}  // namespace

TImage::TImage(const QString& resource, QWidget* parent) : QWidget(parent), renderer_(resource) {
  static const bool accessible = [] {
    QAccessible::installFactory(&ImageAccessible);
    return true;
  }();
  (void)accessible;
  setFocusPolicy(Qt::NoFocus);
}

void TImage::paintEvent(QPaintEvent*) {
  // Rendering the drawing costs far more than copying it, and the picture is repainted whenever
  // a window passes over it.
  const qreal ratio = devicePixelRatioF();
  const QSize pixels = (QSizeF(size()) * ratio).toSize();
  if (picture_.size() != pixels || picture_.devicePixelRatioF() != ratio) {
    picture_ = QPixmap(pixels);
    picture_.setDevicePixelRatio(ratio);
    picture_.fill(Qt::transparent);
    QPainter painter(&picture_);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer_.setAspectRatioMode(Qt::IgnoreAspectRatio);
    renderer_.render(&painter, QRectF(rect()));
  }
  QPainter(this).drawPixmap(0, 0, picture_);
}
