// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The port list's style: the application's, with the drop-down button as narrow as the one the
// window was designed with, so that the longest port name ("COM254") fits the 65-pixel list.
#pragma once

#include <QProxyStyle>

class QComboBox;

class TPortListStyle : public QProxyStyle {
 public:
  // Wraps a new instance of the application's style; `parent` owns the proxy.
  explicit TPortListStyle(QObject* parent);

  // Whether the port list, laid out by its style at its own size, shows `name` whole in its
  // text field and font.
  static bool ShowsWhole(const QComboBox* list, const QString& name);

  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                       const QWidget* widget) const override;
};
