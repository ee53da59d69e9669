// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// File > Add Station...: the station's host and port and the name it gets in the port list.
// The window reaches the station once with what is given here before it lists it.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QSpinBox;

class TAddStationDialog : public QDialog {
 public:
  explicit TAddStationDialog(QWidget* parent = nullptr);

  // Empty when the three make a station entry; else what is wrong. `listed` tells whether a
  // port of that name is in the list already.
  static std::string Check(const std::string& host, int port, const std::string& name, bool listed);
  // rfc2217+tls://HOST:PORT, an IPv6 address in brackets; empty when the host is none.
  static std::string Address(const std::string& host, int port);

  std::string HostText() const;
  int PortNumber() const;
  // In upper case, as the port list shows it.
  std::string PortName() const;
  // Whether a port of that name is listed already; the window tells.
  std::function<bool(const std::string& name)> IsListed;

  QLineEdit* Host;
  QSpinBox* Port;
  QLineEdit* Name;
  QLabel* Problem;

  void accept() override;
};
