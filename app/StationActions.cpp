// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The main window's network stations: added, renamed, removed, forgotten and described.
#include "app/StationActions.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QHelpEvent>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStandardItem>
#include <QTimer>
#include <QToolTip>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "app/AddStationDialog.h"
#include "app/ErrorDisplay.h"
#include "app/PortListStyle.h"
#include "app/StationMessages.h"
#include "app/TrustQuestion.h"
#include "controls/UserAction.h"
#include "serial/SerialPort.h"
#include "station/StationPins.h"
#include "text/Cp1252.h"

namespace {

constexpr const char* kListLocked =
    "Close the port first: the port list is locked while a port is open";

// "0.4 ms" on a LAN, "23 ms" farther away.
std::string RoundTripText(std::chrono::microseconds roundTrip) {
  const double milliseconds = static_cast<double>(roundTrip.count()) / 1000.0;
  char text[32];
  std::snprintf(text, sizeof text, milliseconds < 10 ? "%.1f ms" : "%.0f ms", milliseconds);
  return text;
}

}  // namespace

TStationActions::TStationActions(TWindow& window, QComboBox* portList, QWidget* closePort,
                                 TUiHandOver* handOver)
    : window_(window), portList_(portList), closePort_(closePort), handOver_(handOver) {
  portList_->installEventFilter(this);
  closePort_->installEventFilter(this);
  portList_->lineEdit()->installEventFilter(this);
  portList_->parentWidget()->installEventFilter(this);
  connect(portList_, &QComboBox::currentIndexChanged, this, [this] { DescribeSelected(); });
  DescribeSelected();
}

TStationActions::~TStationActions() = default;

void TStationActions::AddStation1Click() {
  TAddStationDialog dialog(handOver_, portList_->window());
  dialog.IsListed = [this](const std::string& name) {
    return portList_->findText(FromCp1252(name), Qt::MatchFixedString) >= 0;
  };
  dialog.ShowsWhole = [this](const std::string& name) {
    return TPortListStyle::ShowsWhole(portList_, FromCp1252(name));
  };
  dialog.OnAdd = [this](const std::string& name, const std::string& address) {
    AddStation(name, address);
  };
  dialog_ = &dialog;
  const int result = dialog.exec();
  dialog_ = nullptr;
  // The port list is locked while the added station opens; Close Port, which the window does not
  // let Tab reach, holds the focus so that a screen reader says the station and how it goes.
  if (result == QDialog::Accepted && closePort_->isEnabled()) {
    DescribeSelected();
    closePort_->setFocus(Qt::OtherFocusReason);
  }
  // A station still being reached for a dialog that is gone is not added behind its back.
  check_.reset();
}

void TStationActions::AddStation(const std::string& name, const std::string& address) {
  // A name that is not free is refused before the station is reached and trusted for nothing.
  if (const std::string refused = TStationDirectory().NameRefused(name); !refused.empty()) {
    if (!dialog_) throw std::runtime_error(refused);
    dialog_->ShowProblem(ToCp1252(ErrorText(refused)), dialog_->Name);
    return;
  }
  check_ = std::make_unique<TSerialPort>();
  check_->SetUiHandOver(handOver_);
  check_->SetCustomPortName(address);
  check_->SetPort(spCustom);
  check_->SetBaudRate(check_->BaudRateFromNumber(9600));
  TSerialPort* check = check_.get();
  check_->BeginOpen([this, check, name, address](std::exception_ptr failure) {
    // The check's port is let go of outside its own hand-over.
    QTimer::singleShot(0, this, [this, check, name, address, failure] {
      if (check_.get() != check) return;
      check_.reset();
      RunUserAction([&] { Reached(name, address, failure); });
    });
  });
}

void TStationActions::NotAdded(const std::string& problem) {
  // With the dialog open, what went wrong is said there and the operator may change the fields.
  if (!dialog_) throw ESerialPortException(TSerialErrorKind::Other, problem);
  // The station could not be reached or trusted at the address that the host field names.
  dialog_->ShowProblem(ToCp1252(ErrorText(problem)), dialog_->Host);
}

void TStationActions::Reached(const std::string& name, const std::string& address,
                              const std::exception_ptr& failure) {
  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const ESerialPortException& refusal) {
      if (refusal.Kind() != TSerialErrorKind::UnknownStation || !window_.CanAskTrust()) {
        if (!dialog_) throw Worded(refusal);
        NotAdded(FailureText(refusal));
        return;
      }
      TTrustQuestion question;
      question.Later = [this](std::function<void()> action) {
        QTimer::singleShot(0, this, std::move(action));
      };
      question.Ask = [this, name](const ESerialPortException& shown) {
        adding_ = name;
        const bool trusted = window_.AskTrust(shown);
        adding_.clear();
        return trusted;
      };
      question.Declined = [this] { NotAdded("Not added: its certificate was not trusted"); };
      question.NotPinned = [this](const std::string& reason) { NotAdded(reason); };
      // The station answered: it showed the certificate now trusted. Reaching it once more only
      // to close again would make two connections of the one Yes; the window's open that follows
      // is the one.
      question.Pinned = [this, name, address] { List(name, address); };
      question.Put(refusal);
      return;
    } catch (const std::exception& error) {
      if (!dialog_) throw;
      NotAdded(error.what());
      return;
    }
  }
  List(name, address);
}

void TStationActions::List(const std::string& name, const std::string& address) {
  std::string reason;
  if (!TStationDirectory().Add(name, address, reason)) {
    NotAdded(reason);
    return;
  }
  if (dialog_) dialog_->done(QDialog::Accepted);
  if (window_.PortOpenOrOpening()) {
    // The list is locked while a port is open: the new entry is there at the next refresh.
    return;
  }
  window_.RelistPorts(name);
  // Added to be used: opened as Open Port opens it, and the tuner is asked to identify itself.
  window_.ClickOpenPort();
}

TStationEntry TStationActions::Selected(bool changesTheList) const {
  const std::string name = ToCp1252(window_.SelectedPortName());
  TStationEntry station;
  std::string reason;
  if (name.empty()) throw std::runtime_error("Select a station in the port list first");
  if (!TStationDirectory().Find(name, station, reason))
    throw std::runtime_error(name + " is no network station");
  if (changesTheList && window_.PortOpenOrOpening()) throw std::runtime_error(kListLocked);
  return station;
}

void TStationActions::SetListActions(const QList<QAction*>& actions) {
  listActions_ = actions;
  ShowListLock();
}

void TStationActions::ShowListLock() {
  const QString why = portList_->isEnabled() ? QString() : kListLocked;
  for (QAction* action : listActions_) {
    action->setEnabled(why.isEmpty());
    action->setStatusTip(why);
    action->setToolTip(why);
  }
}

void TStationActions::RenameStation1Click() {
  const TStationEntry station = Selected(true);
  bool given = false;
  const QString newName = QInputDialog::getText(portList_->window(), "Rename Station",
                                                "New name for " + FromCp1252(station.Name) + ":",
                                                QLineEdit::Normal, FromCp1252(station.Name), &given)
                              .trimmed()
                              .toUpper();
  if (!given || newName.isEmpty()) return;
  std::string reason;
  if (!TStationDirectory().Rename(station.Name, ToCp1252(newName), reason))
    throw std::runtime_error(reason);
  window_.RelistPorts(ToCp1252(newName));
}

void TStationActions::RemoveStation1Click() {
  const TStationEntry station = Selected(true);
  if (!station.MadeByOrvel) {
    std::string reason;
    TStationDirectory().Remove(station.Name, reason);
    throw std::runtime_error(reason);
  }
  // The address on a line of its own: within a sentence a box breaks it at a hyphen of the host.
  QMessageBox box(QMessageBox::Question, QApplication::applicationName(),
                  FromCp1252("Remove " + station.Name + " from the port list?\n  " + station.Shown +
                             "\n\nThe certificate trusted for it is kept."),
                  QMessageBox::Yes | QMessageBox::No, portList_->window());
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  if (box.exec() != QMessageBox::Yes) return;
  std::string reason;
  if (!TStationDirectory().Remove(station.Name, reason)) throw std::runtime_error(reason);
  window_.RelistPorts({});
}

void TStationActions::ForgetStation1Click() {
  const TStationEntry station = Selected(false);
  if (!station.Tls)
    throw std::runtime_error(station.Name + " does not use TLS: there is no certificate to forget");
  const bool portOpen = window_.PortOpenOrOpening();
  const std::string trusted =
      station.Pinned.empty()
          ? "No certificate is trusted for it now."
          : "Certificate trusted now, SHA-256 fingerprint:\n" + FingerprintLines(station.Pinned);
  // The recovery for a station given a new key: its new certificate is shown and asked about.
  const std::string yes =
      portOpen ? "Yes forgets it; the next Open Port of " + station.Name +
                     " shows the certificate the station has now and asks whether to trust it."
               : "Yes forgets it and opens " + station.Name +
                     ": the certificate the station has now is shown and you are asked whether "
                     "to trust it.";
  // The address on a line of its own: within a sentence a box breaks it at a hyphen of the host.
  QMessageBox box(QMessageBox::Question, QApplication::applicationName(),
                  FromCp1252("Forget the certificate trusted for " + station.Name + "?\n  " +
                             station.Shown + "\n\n" + trusted +
                             "\n\nDo this only when whoever keeps the station says it was given "
                             "a new key.\n\n" +
                             yes),
                  QMessageBox::Yes | QMessageBox::No, portList_->window());
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  if (box.exec() != QMessageBox::Yes) return;
  std::string reason;
  if (!TStationDirectory().Forget(station.Name, reason) && !station.Pinned.empty())
    throw std::runtime_error(reason);
  if (portOpen) return;
  window_.RelistPorts(station.Name);
  window_.ClickOpenPort();
}

void TStationActions::DescribeStations(const QList<QStandardItem*>& items) {
  std::vector<TStationEntry> stations;
  std::string unread;
  TStationDirectory().Entries(stations, unread);
  for (QStandardItem* item : items) {
    for (const TStationEntry& station : stations) {
      if (FromCp1252(station.Name) != item->text()) continue;
      const QString description = FromCp1252(StationDescription(station));
      item->setData(description, Qt::ToolTipRole);
      item->setData(description, Qt::AccessibleDescriptionRole);
    }
  }
}

void TStationActions::DescribeSelected() {
  TStationEntry station;
  std::string unread;
  const std::string name = ToCp1252(window_.SelectedPortName());
  closePort_->setAccessibleDescription("Closes the port");
  describesHeard_ = false;
  describedAt_ = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch());
  if (name.empty() || !TStationDirectory().Find(name, station, unread)) {
    portList_->setToolTip({});
    portList_->setAccessibleDescription("The serial port that Open Port opens");
    return;
  }
  std::string heard;
  if (window_.PortOpen()) {
    describesHeard_ = true;
    const std::optional<std::chrono::system_clock::time_point> last = window_.LastHeard();
    heard = last ? "Open, last heard at " +
                       ToCp1252(QDateTime::fromMSecsSinceEpoch(
                                    std::chrono::duration_cast<std::chrono::milliseconds>(
                                        last->time_since_epoch())
                                        .count())
                                    .toString("HH:mm:ss"))
                 : "Open";
    if (const std::optional<std::chrono::microseconds> roundTrip = window_.LastRoundTrip()) {
      heard += ", round trip " + RoundTripText(*roundTrip);
    }
  }
  const QString description = FromCp1252(StationDescription(station, heard));
  portList_->setToolTip(description);
  portList_->setAccessibleDescription(description);
  // The list is disabled while the port is open, and a disabled control is not reached.
  if (window_.PortOpenOrOpening())
    closePort_->setAccessibleDescription("Closes the port of " + description);
}

void TStationActions::Heard() {
  if (!describesHeard_) return;
  // Only the clock is read for each chunk; the station's directory entry once a second at most.
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch());
  if (now != describedAt_) DescribeSelected();
}

bool TStationActions::eventFilter(QObject* watched, QEvent* event) {
  if (watched == portList_ && event->type() == QEvent::EnabledChange) ShowListLock();
  if (watched == closePort_) {
    // Said afresh as the keyboard reaches it: when the station was last heard from.
    if (event->type() == QEvent::FocusIn) DescribeSelected();
    return false;
  }
  if (event->type() != QEvent::ToolTip) return false;
  // Said afresh each time it is shown: while open, when the station was last heard from.
  DescribeSelected();
  // While a port is open the list is disabled, and its group gets the list's tooltip event.
  if (watched == portList_->parentWidget() && !portList_->isEnabled()) {
    auto* help = static_cast<QHelpEvent*>(event);
    if (portList_->geometry().contains(help->pos()) && !portList_->toolTip().isEmpty()) {
      QToolTip::showText(help->globalPos(), portList_->toolTip(), portList_);
      return true;
    }
  }
  return false;
}
