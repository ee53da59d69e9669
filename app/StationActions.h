// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The main window's network stations: File > Add Station (a station is listed only once it
// answered), Rename Station, Remove Station, Forget Station's Certificate, and what the port
// list's tooltip and description say of the selected station.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "app/StationDirectory.h"
#include "serial/SerialPortException.h"

class QAction;
class QComboBox;
class QStandardItem;
class TAddStationDialog;
class TSerialPort;
class TUiHandOver;

class TStationActions : public QObject {
 public:
  // What the station actions need of the main window.
  class TWindow {
   public:
    virtual ~TWindow() = default;
    // The listed port that the port list shows; empty when the text typed there names none.
    virtual QString SelectedPortName() const = 0;
    // Whether the tuner's port is open; and whether it is open or being opened, which locks the
    // port list.
    virtual bool PortOpen() const = 0;
    virtual bool PortOpenOrOpening() const = 0;
    // While the tuner's port is open on a station: when the station was last heard from, and
    // the connection's round trip.
    virtual std::optional<std::chrono::system_clock::time_point> LastHeard() const = 0;
    virtual std::optional<std::chrono::microseconds> LastRoundTrip() const = 0;
    // Fills the port list afresh and selects `name` in it (nothing when empty).
    virtual void RelistPorts(const std::string& name) = 0;
    // Open Port, as the operator clicks it.
    virtual void ClickOpenPort() = 0;
    // The window's question whether to trust a station's certificate, as the connection asks it.
    virtual bool CanAskTrust() const = 0;
    virtual bool AskTrust(const ESerialPortException& refusal) = 0;
  };

  // `portList` is the window's port list, inside the group box that gets its tooltip events
  // while it is disabled. `closePort` is the control enabled while a port is open, which says
  // the open station's state to the keyboard. A station is reached through `handOver`, as the
  // tuner's port is.
  TStationActions(TWindow& window, QComboBox* portList, QWidget* closePort, TUiHandOver* handOver);
  ~TStationActions() override;

  void AddStation1Click();
  // Reaches the station at `address` once (asking whether to trust its certificate as Open
  // Port does); once it answered, lists it under `name` in the port directory, selects it and,
  // with no other port open, opens it as Open Port does. A name that is not free (see
  // TStationDirectory::NameRefused) is refused first, in the dialog or by throwing.
  void AddStation(const std::string& name, const std::string& address);
  // The selected station (only one that Orvel listed is renamed or removed).
  void RenameStation1Click();
  void RemoveStation1Click();
  void ForgetStation1Click();
  // The actions that change the port list (Rename, Remove): disabled while it is locked (a port
  // open or being opened), with the reason as status tip, tooltip and accessible description.
  void SetListActions(const QList<QAction*>& actions);

  // A station's item in the port list says more than its address: TLS or not, and the
  // certificate trusted for it.
  static void DescribeStations(const QList<QStandardItem*>& items);

  // The name of the station that Add Station adds while its certificate is asked about; else
  // empty.
  const std::string& Adding() const { return adding_; }
  // The port list's tooltip and description for a selected station (empty for a local port),
  // said afresh as the connection changes its state. While it is open, Close Port's
  // description says the same.
  void DescribeSelected();
  // The tuner's port received a chunk: the descriptions say when the station was last heard
  // from, said afresh once the shown second has passed and not more often.
  void Heard();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Reached(const std::string& name, const std::string& address,
               const std::exception_ptr& failure);
  // Lists the station that answered, selects and opens it.
  void List(const std::string& name, const std::string& address);
  // Says why the station was not added: in the dialog while it is open, else thrown.
  void NotAdded(const std::string& problem);
  // The station selected in the port list; throws when none is, or, when the action changes the
  // list, while a port is open.
  TStationEntry Selected(bool changesTheList) const;
  // The list actions as the port list's lock leaves them.
  void ShowListLock();

  TWindow& window_;
  QComboBox* portList_;
  QWidget* closePort_;
  TUiHandOver* handOver_;
  // Add Station reaches its station with a port of its own, apart from the tuner's.
  std::unique_ptr<TSerialPort> check_;
  // The Add Station dialog while it is open.
  TAddStationDialog* dialog_ = nullptr;
  QList<QAction*> listActions_;
  std::string adding_;
  // Whether the descriptions say when an open station was last heard from, and the second
  // (since the epoch) at which they were last said.
  bool describesHeard_ = false;
  std::chrono::seconds describedAt_{};
};
