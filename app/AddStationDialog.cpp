// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The Add Station dialog: what the network announces, the fields, checked before the window
// reaches the station.
#include "app/AddStationDialog.h"

#include <QAccessible>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "app/NoticeLabel.h"
#include "app/StationDirectory.h"
#include "station/NetworkAddress.h"
#include "station/StationModule.h"
#include "station/StationPins.h"
#include "text/Cp1252.h"

namespace {

// The port that orvel-station init gives a station unless told otherwise.
constexpr int kStationPort = 3002;
constexpr const char* kHostExample = "For example shack.local or 192.168.1.5";
constexpr const char* kNameExample = "For example SHACK";

std::string Trimmed(const QString& text) {
  return ToCp1252(text.trimmed());
}

// An announced name as a port name: what a port name cannot hold becomes a hyphen.
QString PortNameFor(const std::string& announced) {
  QString name = FromCp1252(announced).toUpper();
  for (QChar& c : name) {
    const bool plain =
        (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
    if (!plain) c = '-';
  }
  while (name.startsWith('.')) name.remove(0, 1);
  return name.left(64);
}

std::string HostProblem(const std::string& host, int port) {
  if (host.empty()) return "Give the station's host name or address";
  if (TStationDirectory::Address(host, static_cast<unsigned>(std::max(port, 0)), false).empty())
    return "\"" + host + "\" is no host name or address";
  return {};
}

// The browser is the first thing of the station module that the Add Station dialog needs.
std::unique_ptr<TStationSearch> NewBrowser(TUiHandOver* handOver, std::string& reason) {
  TStationModule* stations = StationModule(reason);
  return stations ? stations->NewSearch(handOver) : nullptr;
}

}  // namespace

TAddStationDialog::TAddStationDialog(TUiHandOver* handOver, QWidget* parent)
    : QDialog(parent), Browser(NewBrowser(handOver, noBrowser_)) {
  setWindowTitle("Add Station");
  Found = new QListWidget(this);
  Found->setAccessibleName("Stations on this network");
  Found->setMaximumHeight(96);
  Search = new TNoticeLabel(this);
  Host = new QLineEdit(this);
  Host->setPlaceholderText("shack.local or 192.168.1.5");
  // Qt gives a placeholder as the field's description, which a screen reader reads as if it
  // were the value.
  Host->setAccessibleDescription(kHostExample);
  Port = new QSpinBox(this);
  Port->setRange(1, 65535);
  Port->setValue(kStationPort);
  Tls = new QCheckBox("Encrypted and authenticated (&TLS, as orvel-station init sets it up)", this);
  Tls->setChecked(true);
  Name = new QLineEdit(this);
  Name->setPlaceholderText("SHACK");
  Name->setAccessibleDescription(kNameExample);
  Name->setMaxLength(64);
  NameFit = new TNoticeLabel(this);
  // Only a name typed may be too long: one suggested is cut to fit.
  connect(Name, &QLineEdit::textChanged, this, [this] {
    const bool cut = ShowsWhole && !PortName().empty() && !ShowsWhole(PortName());
    NameFit->SetNotice(cut ? "Longer than the port list shows; its tooltip shows the whole name."
                           : QString());
    Fit();
  });
  Problem = new TNoticeLabel(this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  AddButton = buttons->addButton("&Add and Open", QDialogButtonBox::AcceptRole);
  AddButton->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &TAddStationDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TAddStationDialog::reject);
  // Until the operator names it, the station is named after its host's first label.
  connect(Host, &QLineEdit::textEdited, this, [this](const QString& host) {
    if (Name->isModified()) return;
    Name->setText(Suggested(host.trimmed().section('.', 0, 0).toUpper()));
  });
  connect(Found, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row < 0 || row >= static_cast<int>(found_.size())) return;
    // The list makes its first item current, unselected, as it takes the focus: a screen
    // reader speaks an item only once it is selected.
    Found->item(row)->setSelected(true);
    Pick(found_[static_cast<std::size_t>(row)]);
    // Qt 6.4 tells the item's focus before the list's own, and a screen reader then stays on
    // the list ("List with 1 item"): the item is told once more when the focus event is over.
    QTimer::singleShot(0, Found, [this, row] {
      if (!Found->hasFocus() || Found->currentRow() != row) return;
      QAccessibleEvent focus(Found, QAccessible::Focus);
      focus.setChild(row);
      QAccessible::updateAccessibility(&focus);
    });
  });
  if (Browser) {
    Browser->OnChange = [this] {
      ShowFound(Browser->Stations(), Browser->State(), Browser->Reason());
    };
  }

  auto* layout = new QFormLayout(this);
  layout->addRow(new QLabel("Stations on this network:"));
  layout->addRow(Found);
  layout->addRow(Search);
  layout->addRow(new QLabel("Or the computer beside the tuner, as orvel-station init named it:"));
  layout->addRow("&Host:", Host);
  layout->addRow("&Port:", Port);
  layout->addRow(Tls);
  layout->addRow("&Name in the port list:", Name);
  layout->addRow(QString(), NameFit);
  layout->addRow(Problem);
  layout->addRow(buttons);
  ShowFound({}, TStationBrowser::TState::Looking, {});
}

void TAddStationDialog::showEvent(QShowEvent* event) {
  // The network is watched only while someone looks at what it announces.
  if (Browser) {
    Browser->Start();
    ShowFound(Browser->Stations(), Browser->State(), Browser->Reason());
  } else {
    ShowFound({}, TStationBrowser::TState::Unavailable, noBrowser_);
  }
  QDialog::showEvent(event);
}

void TAddStationDialog::hideEvent(QHideEvent* event) {
  if (Browser) Browser->Stop();
  QDialog::hideEvent(event);
}

void TAddStationDialog::ShowFound(const std::vector<TFoundStation>& stations,
                                  TStationBrowser::TState state, const std::string& reason) {
  found_ = stations;
  const QString picked = Found->currentItem() ? Found->currentItem()->text() : QString();
  const QSignalBlocker quiet(Found);
  Found->clear();
  for (const TFoundStation& station : stations) {
    // The address beside the name: a .local name that this computer cannot resolve is no help.
    const std::string where = station.Addresses.empty()
                                  ? station.Host
                                  : station.Host + " (" + station.Addresses.front() + ")";
    const QString text =
        FromCp1252(station.Name + " - " + where + ", port " + std::to_string(station.Port) +
                   (station.Tls ? ", TLS" : ", plain (no TLS)"));
    std::string addresses;
    for (const std::string& address : station.Addresses)
      addresses += (addresses.empty() ? "" : ", ") + address;
    auto* item = new QListWidgetItem(text, Found);
    item->setToolTip(FromCp1252(addresses));
    // Picking it fills the fields below the list, which a screen reader would not tell.
    item->setData(Qt::AccessibleDescriptionRole,
                  FromCp1252("Fills in host " + HostFor(station, ResolvesMdnsNames()) + ", port " +
                             std::to_string(station.Port) +
                             (station.Tls ? ", TLS" : ", plain (no TLS)") + ", name ") +
                      Suggested(PortNameFor(station.Name)));
    if (text == picked) Found->setCurrentItem(item);
  }
  Found->setVisible(!stations.empty());
  // The names on the search line: a station appearing in the list is otherwise not spoken.
  std::string names;
  for (const TFoundStation& station : stations)
    names += (names.empty() ? "Found on this network: " : ", ") + station.Name;
  switch (state) {
    case TStationBrowser::TState::Looking:
      Search->SetNotice(stations.empty() ? "Looking for stations on this network..."
                                         : FromCp1252(names + "."));
      break;
    case TStationBrowser::TState::Settled:
      Search->SetNotice(stations.empty() ? "No station announces itself on this network."
                                         : FromCp1252(names + "."));
      break;
    case TStationBrowser::TState::Unavailable:
      Search->SetNotice(FromCp1252(reason + "."));
      break;
  }
  Fit();
}

void TAddStationDialog::Fit() {
  if (!isVisible()) return;
  // A line that wraps, or the list shown, needs more room than the dialog was opened with; the
  // wrapped lines' height depends on the width, which the size hint does not know.
  QSize wanted = size().expandedTo(sizeHint());
  wanted.setHeight(std::max(wanted.height(), layout()->totalHeightForWidth(wanted.width())));
  resize(wanted);
}

std::string TAddStationDialog::HostFor(const TFoundStation& station, bool mdnsNames) {
  if (mdnsNames || station.Addresses.empty()) return station.Host;
  return station.Addresses.front();
}

bool TAddStationDialog::ResolvesMdnsNames() {
  std::ifstream file("/etc/nsswitch.conf");
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string word;
    if (!(words >> word) || word != "hosts:") continue;
    while (words >> word)
      if (word.starts_with("mdns")) return true;
  }
  return false;
}

void TAddStationDialog::Pick(const TFoundStation& station) {
  Host->setText(FromCp1252(HostFor(station, ResolvesMdnsNames())));
  Port->setValue(static_cast<int>(station.Port));
  Tls->setChecked(station.Tls);
  Name->setText(Suggested(PortNameFor(station.Name)));
  Name->setModified(false);
  Problem->SetNotice({});
  Untell();
}

QString TAddStationDialog::Suggested(QString name) const {
  while (ShowsWhole && name.size() > 1 && !ShowsWhole(ToCp1252(name))) {
    name.chop(1);
    // Nor does it end in a separator, whose word was cut off.
    while (name.size() > 1 && QString("-_.").contains(name.back())) name.chop(1);
  }
  return name;
}

std::string TAddStationDialog::Check(const std::string& host, int port, const std::string& name,
                                     bool listed) {
  if (std::string problem = HostProblem(host, port); !problem.empty()) return problem;
  if (std::string problem = TStationDirectory::CheckName(name); !problem.empty()) return problem;
  if (listed) return "A port named " + name + " is listed already";
  return {};
}

std::string TAddStationDialog::HostText() const {
  return Trimmed(Host->text());
}

int TAddStationDialog::PortNumber() const {
  return Port->value();
}

bool TAddStationDialog::UsesTls() const {
  return Tls->isChecked();
}

std::string TAddStationDialog::PortName() const {
  return Trimmed(Name->text().toUpper());
}

std::string TAddStationDialog::Address() const {
  return TStationDirectory::Address(HostText(), static_cast<unsigned>(PortNumber()), UsesTls());
}

void TAddStationDialog::ShowProblem(const std::string& problem, QWidget* field) {
  Tell(problem, field);
}

void TAddStationDialog::Tell(const std::string& problem, QWidget* field) {
  AddButton->setEnabled(true);
  Problem->SetNotice(FromCp1252(problem));
  Fit();
  // Qt 6.4 has no described-by relation: the field's own description says the problem.
  Untell();
  field->setAccessibleDescription(FromCp1252(problem));
  field->setFocus(Qt::OtherFocusReason);
}

void TAddStationDialog::Untell() {
  Host->setAccessibleDescription(kHostExample);
  Name->setAccessibleDescription(kNameExample);
}

void TAddStationDialog::accept() {
  const std::string problem =
      Check(HostText(), PortNumber(), PortName(), IsListed && IsListed(PortName()));
  if (!problem.empty()) {
    Tell(problem + ".", HostProblem(HostText(), PortNumber()).empty() ? Name : Host);
    return;
  }
  if (!OnAdd) {
    QDialog::accept();
    return;
  }
  // The station is reached in the background; the window closes the dialog once it answered.
  Untell();
  Problem->SetNotice("Reaching " + FromCp1252(Address()) + "...");
  // Disabled with the focus, Add and Open would hand it to Cancel, and a screen reader would
  // say Cancel instead of what is going on.
  Problem->setFocus(Qt::OtherFocusReason);
  AddButton->setEnabled(false);
  OnAdd(PortName(), Address());
}
