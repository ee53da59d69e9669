// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Fusion's drop-down button is 19 pixels wide; the design's is 17 (the width of a scroll bar
// button at 96 dpi). The two pixels go to the text field.
#include "app/PortListStyle.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QStyleFactory>
#include <QStyleOption>
#include <algorithm>

namespace {

constexpr int kDesignArrowWidth = 17;

}  // namespace

TPortListStyle::TPortListStyle(QObject* parent)
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {
  setParent(parent);
}

bool TPortListStyle::ShowsWhole(const QComboBox* list, const QString& name) {
  // The text field as the list places it, whether or not it has been laid out yet.
  QStyleOptionComboBox option;
  option.initFrom(list);
  option.editable = list->isEditable();
  option.frame = list->hasFrame();
  const QRect field =
      list->style()->subControlRect(CC_ComboBox, &option, SC_ComboBoxEditField, list);
  // QLineEdit keeps two pixels clear on each side of its text.
  return list->lineEdit()->fontMetrics().horizontalAdvance(name) <= field.width() - 4;
}

QRect TPortListStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                     SubControl part, const QWidget* widget) const {
  QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
  if (control != CC_ComboBox || (part != SC_ComboBoxArrow && part != SC_ComboBoxEditField))
    return rect;
  const QRect arrow = QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget);
  const int spare = std::max(0, arrow.width() - kDesignArrowWidth);
  if (option->direction == Qt::RightToLeft) {
    if (part == SC_ComboBoxArrow) rect.setRight(rect.right() - spare);
    if (part == SC_ComboBoxEditField) rect.setLeft(rect.left() - spare);
  } else {
    if (part == SC_ComboBoxArrow) rect.setLeft(rect.left() + spare);
    if (part == SC_ComboBoxEditField) rect.setRight(rect.right() + spare);
  }
  return rect;
}
