// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TColorButton: state table, frames, caption layout, growth and the mouse sequence.
#include "controls/ColorButton.h"

#include <QAccessible>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleHints>
#include <algorithm>

#include "controls/ColorButtonAccessible.h"
#include "controls/UserAction.h"

namespace {

enum class Frame { None, Raised, Sunken };

constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kGray = 0xFF808080;

Qt::Alignment Horizontal(TAlignment alignment) {
  switch (alignment) {
    case taLeftJustify:
      return Qt::AlignLeft;
    case taRightJustify:
      return Qt::AlignRight;
    case taCenter:
      break;
  }
  return Qt::AlignHCenter;
}

// The outermost ring: top row and left column in `first`, bottom row and right column in
// `second`; the top-right corner takes `first`, the bottom-left corner `second`.
void DrawFrame(QPainter& painter, const QRect& full, QColor first, QColor second) {
  const int w = full.width();
  const int h = full.height();
  painter.fillRect(QRect(0, 0, w, 1), first);
  painter.fillRect(QRect(0, 1, 1, h - 2), first);
  painter.fillRect(QRect(0, h - 1, w, 1), second);
  painter.fillRect(QRect(w - 1, 1, 1, h - 2), second);
}

// Growth never goes beyond a set maximum and never below the current size.
int Grown(int current, int needed, int maximum) {
  const int capped = maximum > 0 ? std::min(needed, maximum) : needed;
  return std::max(current, capped);
}

}  // namespace

TColorButton::TColorButton(QWidget* parent) : QWidget(parent) {
  static const bool accessible = [] {
    QAccessible::installFactory(&TColorButtonAccessible::Create);
    return true;
  }();
  (void)accessible;
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(24, 24);
}

TColorButton::~TColorButton() = default;

void TColorButton::SetAlign(TAlign value) {
  if (value == FAlign) return;
  FAlign = value;
  if (parentWidget() != nullptr) parentWidget()->installEventFilter(this);
  ApplyAlign();
}

void TColorButton::ApplyAlign() {
  const QWidget* parent = parentWidget();
  if (parent == nullptr) return;
  const int w = parent->width();
  const int h = parent->height();
  switch (FAlign) {
    case alNone:
      break;
    case alTop:
      setGeometry(0, 0, w, height());
      break;
    case alBottom:
      setGeometry(0, h - height(), w, height());
      break;
    case alLeft:
      setGeometry(0, 0, width(), h);
      break;
    case alRight:
      setGeometry(w - width(), 0, width(), h);
      break;
    case alClient:
      setGeometry(0, 0, w, h);
      break;
  }
}

bool TColorButton::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) ApplyAlign();
  return false;
}

void TColorButton::SetAlignment(TAlignment value) {
  if (value == FAlignment) return;
  FAlignment = value;
  update();
}

void TColorButton::SetBackBitmap(const QImage& value) {
  FBackBitmap = value;
  BackBitmapChanged();
}

void TColorButton::BackBitmapChanged() {
  update();
}

void TColorButton::SetCaption(const QString& value) {
  if (value == FCaption) return;
  ChangeMeasure(FCaption, value);
  if (QAccessible::isActive()) {
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
  }
}

void TColorButton::SetWordWrap(bool value) {
  ChangeMeasure(FWordWrap, value);
}

void TColorButton::SetDown(bool value) {
  if (value == FDown) return;
  FDown = value;
  update();
  DownChanged();
}

void TColorButton::DownChanged() {
  if (!QAccessible::isActive()) return;
  QAccessible::State changed;
  changed.pressed = true;
  changed.checked = FLatching;
  QAccessibleStateChangeEvent event(this, changed);
  QAccessible::updateAccessibility(&event);
}

void TColorButton::Click() {
  if (!isEnabled()) return;
  if (onclick && !RunUserAction([this] { onclick(this); })) return;
  if (FLatching) SetDown(!FDown);
}

void TColorButton::SetConstraints(const TSizeConstraints& value) {
  if (value == FConstraints) return;
  FConstraints = value;
  setMinimumSize(value.MinWidth, value.MinHeight);
  setMaximumSize(value.MaxWidth > 0 ? value.MaxWidth : QWIDGETSIZE_MAX,
                 value.MaxHeight > 0 ? value.MaxHeight : QWIDGETSIZE_MAX);
  update();
}

void TColorButton::SetFlat(bool value) {
  if (value == FFlat) return;
  FFlat = value;
  update();
}

void TColorButton::SetMarginHorizontal(int value) {
  ChangeMeasure(FMarginHorizontal, value);
}

void TColorButton::SetMarginVertical(int value) {
  ChangeMeasure(FMarginVertical, value);
}

void TColorButton::SetColor(TColor value) {
  if (value == FColor) return;
  FColor = value;
  update();
}

// The growth runs at the start of every paint. The setters that change the measure also
// run it at once while the button is shown, so that its size is right as soon as they
// return; a hidden button waits for its first paint, so that only the font it is finally
// shown with decides its size.
void TColorButton::GrowToFit() {
  const QFontMetrics metrics(font());
  int width = this->width();
  int height = this->height();
  if (!FWordWrap) {
    const QSize text = metrics.size(Qt::TextSingleLine | Qt::TextShowMnemonic, FCaption);
    width = Grown(width, text.width() + 2 * FMarginHorizontal, FConstraints.MaxWidth);
    height = Grown(height, metrics.height() + 2 * FMarginVertical, FConstraints.MaxHeight);
  } else {
    const QRect area(FMarginHorizontal, FMarginVertical, width - 2 * FMarginHorizontal,
                     height - FMarginVertical);
    const QRect text = metrics.boundingRect(
        area, Qt::TextWordWrap | Qt::TextShowMnemonic | Horizontal(FAlignment), FCaption);
    height = Grown(height, text.height() + FMarginVertical + 1, FConstraints.MaxHeight);
  }
  if (width != this->width() || height != this->height()) resize(width, height);
}

void TColorButton::paintEvent(QPaintEvent*) {
  GrowToFit();
  QPainter painter(this);
  painter.setFont(font());
  const QRect full = rect();
  QRect text =
      FWordWrap ? QRect(FMarginHorizontal, FMarginVertical, full.width() - 2 * FMarginHorizontal,
                        full.height() - 2 * FMarginVertical)
                : QRect(FMarginHorizontal, 0, full.width() - 2 * FMarginHorizontal, full.height());

  QColor background;
  QColor caption;
  Frame frame = Frame::None;
  if (Pressed || FDown) {
    background = ColorToQColor(FDownColor);
    frame = Frame::Sunken;
    caption = ColorToQColor(FDownFontColor);
    text.translate(1, 1);
  } else if (Hot && FHotTrack) {
    background = ColorToQColor(FHotColor);
    frame = Frame::Raised;
    caption = ColorToQColor(FHotFontColor);
  } else {
    background = ColorToQColor(FColor);
    frame = FFlat && !Hot ? Frame::None : Frame::Raised;
    // The look does not depend on Enabled: the disabled group's grey text is not used.
    caption = palette().color(QPalette::Active, QPalette::WindowText);
  }

  // A picture with a width or height of 0 counts as none, so the tiling never divides by 0.
  if (FBackBitmap.width() > 0 && FBackBitmap.height() > 0) {
    const int w = FBackBitmap.width();
    const int h = FBackBitmap.height();
    for (int row = 0; row <= full.height() / h; ++row) {
      for (int column = 0; column <= full.width() / w; ++column) {
        painter.drawImage(QPoint(column * w, row * h), FBackBitmap);
      }
    }
  } else {
    painter.fillRect(full, background);
  }

  if (frame == Frame::Raised) DrawFrame(painter, full, QColor(kWhite), QColor(kGray));
  if (frame == Frame::Sunken) DrawFrame(painter, full, QColor(kGray), QColor(kWhite));

  const int flags =
      Qt::TextShowMnemonic | Horizontal(FAlignment) |
      (FWordWrap ? Qt::TextWordWrap | Qt::AlignTop : Qt::TextSingleLine | Qt::AlignVCenter);
  painter.setClipRect(text);
  painter.setPen(caption);
  painter.drawText(text, flags, FCaption);
}

bool TColorButton::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && !FShowHint) {
    event->ignore();
    return true;
  }
  if (event->type() == QEvent::ParentAboutToChange && parentWidget() != nullptr) {
    parentWidget()->removeEventFilter(this);
  } else if (event->type() == QEvent::ParentChange && FAlign != alNone &&
             parentWidget() != nullptr) {
    parentWidget()->installEventFilter(this);
    ApplyAlign();
  }
  return QWidget::event(event);
}

void TColorButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) {
    if (isVisible()) GrowToFit();
    update();
  } else if (event->type() == QEvent::PaletteChange) {
    update();
  }
  QWidget::changeEvent(event);
}

// Qt delivers enter and leave to disabled widgets as well, so a disabled button lights up.
void TColorButton::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  Hot = true;
  repaint();
}

void TColorButton::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  Hot = false;
  repaint();
}

void TColorButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    ClickArmed = true;
    LastLeftPress = event->timestamp();
  }
  Pressed = true;
  repaint();
}

// The second press of a double click shows pressed like any press but cannot start a click.
// The toolkit makes a double click of any second press within the interval, also when the
// first one did not reach this button (it was disabled then): that press is the button's
// first, and a click like any other, so that the latch and the click stay in step.
void TColorButton::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const bool firstPressWasOurs =
        LastLeftPress && event->timestamp() >= *LastLeftPress &&
        event->timestamp() - *LastLeftPress <=
            static_cast<quint64>(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    ClickArmed = !firstPressWasOurs;
    LastLeftPress = firstPressWasOurs ? std::nullopt : std::optional<quint64>(event->timestamp());
  }
  Pressed = true;
  repaint();
}

void TColorButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && ClickArmed) {
    ClickArmed = false;
    if (rect().contains(event->position().toPoint()) && Pressed && onclick) {
      // A failed command is reported and leaves the latch as it was; the button must not
      // stay drawn pressed until the next mouse press.
      if (!RunUserAction([this] { onclick(this); })) {
        Pressed = false;
        repaint();
        return;
      }
    }
  }
  if (FLatching) {
    FDown = !FDown;
    DownChanged();
  }
  Pressed = false;
  repaint();
}
