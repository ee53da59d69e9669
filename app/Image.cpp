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
