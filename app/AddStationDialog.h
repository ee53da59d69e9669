// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// File > Add Station...: the stations announced on the local network to pick from, or a host
// and port typed in, plain or TLS, and the name the station gets in the port list. The dialog
// stays open until the window has reached the station, and shows why when it could not.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "station/StationBrowser.h"
#include "station/StationSearch.h"

class QCheckBox;
class QLabel;
class TNoticeLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class TUiHandOver;

class TAddStationDialog : public QDialog {
 public:
  // The announcements reach the dialog through `handOver`, while it is shown.
  explicit TAddStationDialog(TUiHandOver* handOver, QWidget* parent = nullptr);

  // Empty when the three make a station entry; else what is wrong. `listed` tells whether a
  // port of that name is in the list already.
  static std::string Check(const std::string& host, int port, const std::string& name, bool listed);
  // The host to write for a station found on the network: its mDNS name when this computer
  // resolves such names (`mdnsNames`), else its first address.
  static std::string HostFor(const TFoundStation& station, bool mdnsNames);
  // Whether the system's host lookup asks mDNS (libnss-mdns in /etc/nsswitch.conf).
  static bool ResolvesMdnsNames();

  std::string HostText() const;
  int PortNumber() const;
  bool UsesTls() const;
  // In upper case, as the port list shows it.
  std::string PortName() const;
  std::string Address() const;
  // Whether a port of that name is listed already; the window tells.
  std::function<bool(const std::string& name)> IsListed;
  // Whether the port list shows the name whole; the window tells.
  std::function<bool(const std::string& name)> ShowsWhole;
  // Asked to add the station once the fields are sound; the window reaches it, then closes the
  // dialog or calls ShowProblem.
  std::function<void(const std::string& name, const std::string& address)> OnAdd;
  // The station was not added: why, with the fields left as they were; focus goes to `field`,
  // the one the problem is about.
  void ShowProblem(const std::string& problem, QWidget* field);
  // Fills the fields from a station found on the network.
  void Pick(const TFoundStation& station);
  // Lists what the network announces, and how the search goes.
  void ShowFound(const std::vector<TFoundStation>& stations, TStationBrowser::TState state,
                 const std::string& reason);

  QListWidget* Found;
  TNoticeLabel* Search;
  QLineEdit* Host;
  QSpinBox* Port;
  QCheckBox* Tls;
  QLineEdit* Name;
  // Says, beside the name, when the port list will not show it whole.
  TNoticeLabel* NameFit;
  TNoticeLabel* Problem;
  QPushButton* AddButton;
  // Null when the station module cannot be loaded; the list then says why.
  std::unique_ptr<TStationSearch> Browser;

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // Says the problem on its line and on the field it is about, where the focus goes.
  void Tell(const std::string& problem, QWidget* field);
  // The fields' descriptions back to their examples.
  void Untell();
  // Grows to show every line whole.
  void Fit();
  // A name for the port list made of an announced name or a host: as much of it as the list
  // shows whole.
  QString Suggested(QString name) const;

  std::vector<TFoundStation> found_;
  std::string noBrowser_;
};
