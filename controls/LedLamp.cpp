// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TLedLamp: picture building by surface fill, painting, blinking and the property setters.
#include "controls/LedLamp.h"

#include <QAccessible>
#include <QEnterEvent>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QToolTip>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "controls/LedLampAccessible.h"
#include "controls/UserAction.h"

namespace {

struct StyleInfo {
  const char* framed;
  const char* plain;
  int width;
  int height;
};

// Indexed by TLEDStyle.
constexpr StyleInfo kStyles[] = {
    {"BSM", "NSM", 16, 16},     {"BLG", "NLG", 22, 22}, {"BSQSM", "NSQSM", 16, 16},
    {"BSQLG", "NSQLG", 22, 22}, {"BVT", "NVT", 16, 22}, {"BHZ", "NHZ", 22, 16},
};

const StyleInfo& Info(TLEDStyle style) {
  const auto index = static_cast<std::size_t>(style);
  return index < std::size(kStyles) ? kStyles[index] : kStyles[0];
}

constexpr QRgb kLime = 0xFF00FF00;
constexpr QRgb kSilver = 0xFFC0C0C0;

// Surface fill: replaces the region of pixels exactly equal to `match` that is connected to
// `start` through edge neighbours. Diagonal neighbours are left out on purpose: the silver
// light edges inside the round bezels touch the surround only at corners and must keep
// their colour in the plain pictures.
void FillSurface(QImage& image, QPoint start, QRgb match, QRgb fill) {
  if (!image.valid(start) || image.pixel(start) != match || match == fill) return;
  // Straight on the pixels (one detach): QImage::pixel and setPixel check every call.
  const int width = image.width();
  const int height = image.height();
  const auto rowLength = static_cast<std::ptrdiff_t>(image.bytesPerLine() / 4);
  auto* pixels = reinterpret_cast<QRgb*>(image.bits());
  const auto at = [&](int x, int y) -> QRgb& { return pixels[y * rowLength + x]; };
  std::vector<QPoint> pending{start};
  at(start.x(), start.y()) = fill;
  while (!pending.empty()) {
    const QPoint point = pending.back();
    pending.pop_back();
    for (const QPoint step : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
      const QPoint next = point + step;
      if (next.x() >= 0 && next.x() < width && next.y() >= 0 && next.y() < height &&
          at(next.x(), next.y()) == match) {
        at(next.x(), next.y()) = fill;
        pending.push_back(next);
      }
    }
  }
}

// A picture as stored, decoded once: every lamp of a window rebuilds its pictures several times
// while it is being set up.
const QImage& StoredPicture(const char* name) {
  static std::map<std::string, QImage> decoded;
  auto found = decoded.find(name);
  if (found == decoded.end()) {
    const QImage loaded(QStringLiteral(":/lamps/") + QLatin1String(name), "BMP");
    found = decoded.emplace(name, loaded.convertToFormat(QImage::Format_RGB32)).first;
  }
  return found->second;
}

QRgb Opaque(TColor color) {
  return ColorToQColor(color).rgb() | 0xFF000000;
}

}  // namespace

TLedLamp::TLedLamp(QWidget* parent) : QWidget(parent), BlinkTimer(new QTimer(this)) {
  static const bool accessible = [] {
    QAccessible::installFactory(&TLedLampAccessible::Create);
    return true;
  }();
  (void)accessible;
  connect(BlinkTimer, &QTimer::timeout, this, [this] { BlinkTick(); });
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(16, 16);
  RebuildPictures();
}

TLedLamp::~TLedLamp() = default;

void TLedLamp::RebuildPictures() {
  const StyleInfo& info = Info(FLEDStyle);
  resize(info.width, info.height);
  LitPicture = StoredPicture(FBordered ? info.framed : info.plain);
  UnlitPicture = LitPicture;
  // The picture's own centre, which is the control's once the size above took effect; it
  // stays right even when size limits on the control refused the new size.
  const QPoint centre(LitPicture.width() / 2, LitPicture.height() / 2);
  FillSurface(LitPicture, centre, kLime, Opaque(FTrueColor));
  FillSurface(UnlitPicture, centre, kLime, Opaque(FFalseColor));
  if (!FBordered) {
    const QRgb border = Opaque(FBorderColor);
    FillSurface(LitPicture, QPoint(0, 0), kSilver, border);
    FillSurface(UnlitPicture, QPoint(0, 0), kSilver, border);
  }
}

void TLedLamp::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(rect(), ShownPhase == 0 ? LitPicture : UnlitPicture);
}

// The immediate draws go through repaint(), which paints synchronously and is skipped by
// Qt while the lamp is hidden; the next paint then shows the phase recorded here.
void TLedLamp::ShowLit() {
  ShownPhase = 0;
  repaint();
}

void TLedLamp::ShowUnlit() {
  ShownPhase = 1;
  repaint();
}

void TLedLamp::StartBlink() {
  if (Blinking) return;
  Blinking = true;
  ShownPhase = 0;
  ApplyInterval();
}

// One timer serves the lamp for its whole life: an activity lamp starts and stops blinking
// for every logged line. Stopping is safe from inside the timer's own tick (OnTimer may switch
// the lamp off).
void TLedLamp::StopBlink() {
  Blinking = false;
  BlinkTimer->stop();
}

void TLedLamp::BlinkTick() {
  ShownPhase = 1 - ShownPhase;
  repaint();
  if (OnTimer) OnTimer(this);
}

void TLedLamp::ApplyInterval() {
  // A zero interval would make a Qt timer fire on every pass of the event loop; here it
  // means the lamp never changes phase. A negative one is treated the same way.
  if (!Blinking || FInterval <= 0) {
    BlinkTimer->stop();
  } else if (!BlinkTimer->isActive() || BlinkTimer->interval() != FInterval) {
    BlinkTimer->start(FInterval);
  }
}

void TLedLamp::ChangeColor(TColor& field, TColor value) {
  if (field == value) return;
  const bool blink = FBlink;
  if (blink) SetBlink(false);
  field = value;
  RebuildPictures();
  SetBlink(blink);
  repaint();
}

void TLedLamp::SetTrueColor(TColor value) {
  ChangeColor(FTrueColor, value);
}
void TLedLamp::SetFalseColor(TColor value) {
  ChangeColor(FFalseColor, value);
}
void TLedLamp::SetBorderColor(TColor value) {
  ChangeColor(FBorderColor, value);
}

// Only the events go out here; what they announce is read back from the lamp when asked, so
// a lamp costs nothing extra while no assistive technology listens.
void TLedLamp::NotifyStateChange(QAccessible::State changed) {
  if (!QAccessible::isActive() || !(changed.checked || changed.animated)) return;
  QAccessibleStateChangeEvent state(this, changed);
  QAccessible::updateAccessibility(&state);
  QAccessibleEvent description(this, QAccessible::DescriptionChanged);
  QAccessible::updateAccessibility(&description);
}

QString TLedLamp::StateText() const {
  if (!FValue) return QStringLiteral("unlit");
  // A zero interval never ticks: the lamp stays lit.
  return FBlink && FInterval > 0 ? QStringLiteral("blinking") : QStringLiteral("lit");
}

QString TLedLamp::HintText() const {
  return FMeaning.isEmpty() ? StateText() : FMeaning + QStringLiteral(": ") + StateText();
}

void TLedLamp::Click() {
  if (OnClick) RunUserAction([this] { OnClick(this); });
}

void TLedLamp::SetBlink(bool value) {
  if (value == FBlink) return;
  if (FValue) {
    ShowLit();
  } else {
    ShowUnlit();
  }
  FBlink = value;
  if (FBlink && FValue) {
    StartBlink();
  } else {
    StopBlink();
  }
  QAccessible::State changed;
  changed.animated = FValue;
  NotifyStateChange(changed);
}

void TLedLamp::SetBordered(bool value) {
  if (value == FBordered) return;
  FBordered = value;
  RebuildPictures();
  repaint();
}

void TLedLamp::SetValue(bool value) {
  if (value == FValue) return;
  FValue = value;
  if (FValue) {
    ShowLit();
    if (FBlink) StartBlink();
  } else {
    StopBlink();
    ShowUnlit();
  }
  QAccessible::State changed;
  changed.checked = true;
  changed.animated = FBlink;
  NotifyStateChange(changed);
}

void TLedLamp::SetInterval(int value) {
  const bool wasBlinking = FInterval > 0;
  FInterval = value;
  ApplyInterval();
  QAccessible::State changed;
  changed.animated = FValue && FBlink && wasBlinking != (FInterval > 0);
  NotifyStateChange(changed);
}

void TLedLamp::SetLEDStyle(TLEDStyle value) {
  if (value == FLEDStyle) return;
  FLEDStyle = value;
  RebuildPictures();
  repaint();
}

bool TLedLamp::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && !FShowHint) {
    event->ignore();
    return true;
  }
  // The text is made when the tooltip shows, so that the lamp's state changes cost nothing.
  if (event->type() == QEvent::ToolTip && !FMeaning.isEmpty() && toolTip().isEmpty()) {
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), HintText(), this);
    return true;
  }
  return QWidget::event(event);
}

void TLedLamp::enterEvent(QEnterEvent* event) {
  QWidget::enterEvent(event);
  if (OnMouseEnter) OnMouseEnter(this);
}

void TLedLamp::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  if (OnMouseLeave) OnMouseLeave(this);
}

void TLedLamp::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) ClickArmed = true;
}

// Qt's default turns the second press of a double click into a press; that press must not
// start a click.
void TLedLamp::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) ClickArmed = false;
}

void TLedLamp::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !ClickArmed) return;
  ClickArmed = false;
  if (rect().contains(event->position().toPoint()) && OnClick) {
    RunUserAction([this] { OnClick(this); });
  }
}
