// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Stretched SVG picture.
#include "Image.h"

#include <QPainter>

TImage::TImage(const QString& resource, QWidget* parent) : QWidget(parent), renderer_(resource) {
  setFocusPolicy(Qt::NoFocus);
}

void TImage::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer_.setAspectRatioMode(Qt::IgnoreAspectRatio);
  renderer_.render(&painter, QRectF(rect()));
}
