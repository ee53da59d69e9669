// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The Add Station dialog: three fields, checked before the dialog closes.
#include "AddStationDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <algorithm>

#include "Cp1252.h"
#include "NetworkAddress.h"

namespace {

// The port that orvel-station init gives a station unless told otherwise.
constexpr int kStationPort = 3002;

std::string Trimmed(const QString& text) {
  return ToCp1252(text.trimmed());
}

}  // namespace

TAddStationDialog::TAddStationDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Add Station");
  Host = new QLineEdit(this);
  Host->setPlaceholderText("shack.local");
  Port = new QSpinBox(this);
  Port->setRange(1, 65535);
  Port->setValue(kStationPort);
  Name = new QLineEdit(this);
  Name->setPlaceholderText("SHACK");
  Name->setMaxLength(64);
  Problem = new QLabel(this);
  Problem->setTextFormat(Qt::PlainText);
  Problem->setWordWrap(true);
  Problem->hide();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &TAddStationDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TAddStationDialog::reject);
  // Until the operator names it, the station is named after its host's first label.
  connect(Host, &QLineEdit::textEdited, this, [this](const QString& host) {
    if (Name->isModified()) return;
    Name->setText(host.trimmed().section('.', 0, 0).toUpper());
  });

  auto* layout = new QFormLayout(this);
  layout->addRow(new QLabel("The computer beside the tuner, as orvel-station init named it:"));
  layout->addRow("Host:", Host);
  layout->addRow("Port:", Port);
  layout->addRow("Name in the port list:", Name);
  layout->addRow(Problem);
  layout->addRow(buttons);
}

std::string TAddStationDialog::Check(const std::string& host, int port, const std::string& name,
                                     bool listed) {
  if (host.empty()) return "Give the station's host name or address";
  if (Address(host, port).empty()) return "\"" + host + "\" is no host name or address";
  if (name.empty()) return "Give the station a name for the port list";
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
  if (!plain || name[0] == '.') return "A port name is letters, digits and - _ . (not first)";
  if (listed) return "A port named " + name + " is listed already";
  return {};
}

std::string TAddStationDialog::Address(const std::string& host, int port) {
  std::string reason;
  const std::optional<TNetworkAddress> address = TNetworkAddress::FromHost(
      host, static_cast<unsigned>(std::max(port, 0)), TNetworkKind::Rfc2217Tls, reason);
  return address ? address->Text() : std::string();
}

std::string TAddStationDialog::HostText() const {
  return Trimmed(Host->text());
}

int TAddStationDialog::PortNumber() const {
  return Port->value();
}

std::string TAddStationDialog::PortName() const {
  return Trimmed(Name->text().toUpper());
}

void TAddStationDialog::accept() {
  const std::string problem =
      Check(HostText(), PortNumber(), PortName(), IsListed && IsListed(PortName()));
  if (problem.empty()) {
    QDialog::accept();
    return;
  }
  Problem->setText(FromCp1252(problem) + ".");
  Problem->show();
}
