// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TImage: a picture control that stretches a scalable drawing over its whole area.
#pragma once

#include <QPixmap>
#include <QSvgRenderer>
#include <QWidget>

class TImage : public QWidget {
 public:
  // `resource` names an SVG drawing built into the program (":/resources/Image0.svg").
  TImage(const QString& resource, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QSvgRenderer renderer_;
  // The drawing rendered at the control's size and pixel ratio: a repaint copies it.
  QPixmap picture_;
};
