// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The main window: layout, controller and the line protocol's display.
#include "app/Form1.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QStandardItemModel>
#include <QTimer>
#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/DesktopNotifier.h"
#include "app/ErrorDisplay.h"
#include "app/IniFile.h"
#include "app/MenuItemAccessible.h"
#include "app/PortListStyle.h"
#include "app/QtConnectionClock.h"
#include "app/QtUiHandOver.h"
#include "app/ReadingLabel.h"
#include "app/SerialConnectionPort.h"
#include "app/StationMessages.h"
#include "controls/ColorButton.h"
#include "controls/Image.h"
#include "controls/LedLamp.h"
#include "controls/PanelFont.h"
#include "controls/UserAction.h"
#include "monitor/Form2.h"
#include "protocol/TunerCommands.h"
#include "serial/PortsDirectory.h"
#include "serial/Trace.h"
#include "station/NetworkAddress.h"
#include "station/PrivateFile.h"
#include "text/Cp1252.h"

namespace {

constexpr int kClientWidth = 406;
constexpr int kClientHeight = 246;

template <typename Label = QLabel, typename... Extra>
Label* MakeLabel(QWidget* parent, int left, int top, const QString& caption, const QFont& font,
                 const QColor& color, const Extra&... extra) {
  auto* label = new Label(extra..., caption, parent);
  // The value labels show what the tuner sent: never as markup.
  label->setTextFormat(Qt::PlainText);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
  label->move(left, top);
  label->adjustSize();
  return label;
}

TLedLamp* MakeLamp(QWidget* parent, int left, int top, TLEDStyle style, TColor lit, bool blink) {
  auto* lamp = new TLedLamp(parent);
  lamp->SetBordered(false);
  lamp->SetLEDStyle(style);
  lamp->SetTrueColor(lit);
  lamp->SetBlink(blink);
  lamp->move(left, top);
  return lamp;
}

TColorButton* MakeButton(QWidget* parent, QRect geometry, const QString& caption, int margin,
                         int maxWidth, TColor downColor, TColor downFontColor) {
  auto* button = new TColorButton(parent);
  TSizeConstraints limits;
  limits.MaxWidth = maxWidth;
  button->SetConstraints(limits);
  button->setGeometry(geometry);
  button->SetLatching(true);
  button->SetFlat(false);
  button->SetAlignment(taCenter);
  button->SetWordWrap(false);
  button->SetColor(clBtnFace);
  button->SetHotTrack(true);
  button->SetHotColor(clYellow);
  button->SetHotFontColor(clRed);
  button->SetDownColor(downColor);
  button->SetDownFontColor(downFontColor);
  button->SetMarginVertical(4);
  button->SetMarginHorizontal(margin);
  button->SetCaption(caption);
  return button;
}

}  // namespace

TForm1::TForm1(const QString& settingsDirectory, QWidget* parent)
    : QMainWindow(parent),
      SerialPort(std::make_unique<TSerialPort>()),
      settingsDirectory_(settingsDirectory),
      protocol_(*this),
      handOver_(std::make_unique<TQtUiHandOver>(this)),
      connectionPort_(*SerialPort, [this] { return ToCp1252(SelectedPortName()); }) {
  setWindowTitle("Orvel");
  setWindowIcon(QIcon(":/resources/orvel.svg"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(PanelFont(11, false));
  QPalette palette = this->palette();
  const QColor purple = ColorToQColor(clPurple);
  palette.setColor(QPalette::WindowText, purple);
  palette.setColor(QPalette::Text, purple);
  palette.setColor(QPalette::ButtonText, purple);
  palette.setColor(QPalette::Window, ColorToQColor(clBtnFace));
  setPalette(palette);

  SerialPort->SetBaudRate(br009600);
  SerialPort->SetCustomPortName("vcom1");
  SerialPort->SetAutoReceive(true);
  SerialPort->SetNewLine("\r\n");
  SerialPort->SetUiHandOver(handOver_.get());
  SerialPort->OnReceive = [this](TSerialPort* sender, const std::string& buffer) {
    SerialPortReceive(sender, buffer);
  };
  SerialPort->OnFault = [this](TSerialPort* sender, TCommPort port) {
    SerialPortFault(sender, port);
  };

  CreateControls();
  TStationActions::TWindow& stationWindow = *this;
  stations_ =
      std::make_unique<TStationActions>(stationWindow, ComboBox1, closeport, handOver_.get());
  clock_ = std::make_unique<TQtConnectionClock>(ReconnectTimer);
  TConnectionController::TWindow& window = *this;
  connection_ = std::make_unique<TConnectionController>(connectionPort_, window, *clock_);
  AskToTrustStation = [this](const ESerialPortException& refusal) {
    return AskTrustQuestion(refusal);
  };
  CreateMenu();
  DescribeControls();
  FormCreate();

  // The client area keeps its design size below the menu bar.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  move(822, 264);
}

TForm1::~TForm1() {
  // The serial object goes first, while the controls and the hand-over it delivers through
  // still exist: its receive thread may be handing an event over.
  SerialPort.reset();
}

void TForm1::CreateControls() {
  auto* client = new QWidget(this);
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  const QColor navy = ColorToQColor(clNavy);
  const QColor purple = ColorToQColor(clPurple);
  Label5 = MakeLabel(client, 40, 120, "SWR:", PanelFont(16, true), navy);
  Label1 = MakeLabel(client, 40, 152, "L:", PanelFont(16, true), navy);
  Label2 = MakeLabel(client, 40, 184, "C:", PanelFont(16, true), navy);
  Label6 = MakeLabel(client, 40, 216, "FWD:", PanelFont(16, false), purple);
  Label3 = MakeLabel<TReadingLabel>(client, 96, 120, "1.8", PanelFont(16, true), purple, "SWR");
  Label4 = MakeLabel<TReadingLabel>(client, 72, 152, "Label4", PanelFont(16, true), purple, "L");
  Label8 = MakeLabel<TReadingLabel>(client, 72, 184, "Label8", PanelFont(16, true), purple, "C");
  Label7 = MakeLabel<TReadingLabel>(client, 96, 216, "Label7", PanelFont(16, false), purple, "FWD");

  YellowLED = MakeLamp(client, 107, 48, LEDLarge, clYellow, false);
  RedLed = MakeLamp(client, 139, 48, LEDLarge, clRed, false);
  GreenLED = MakeLamp(client, 171, 48, LEDLarge, clLime, false);

  tune1 = MakeButton(client, {32, 40, 52, 41}, "TUNE", 2, 65, clLime, clBlack);
  tune1->SetFont(PanelFont(11, true));
  tune1->onclick = [this](QObject*) { tune1click(); };

  GroupBox1 = new QGroupBox("COM Ports", client);
  GroupBox1->setGeometry(224, 8, 169, 97);
  GroupBox1->setFocusPolicy(Qt::NoFocus);

  ComboBox1 = new QComboBox(GroupBox1);
  ComboBox1->setStyle(new TPortListStyle(ComboBox1));
  ComboBox1->setEditable(true);
  ComboBox1->setInsertPolicy(QComboBox::NoInsert);
  ComboBox1->setGeometry(16, 24, 65, 21);
  ComboBox1->setEditText("ComboBox1");
  ComboBox1->installEventFilter(this);
  ComboBox1->lineEdit()->installEventFilter(this);
  GroupBox1->installEventFilter(this);
  // A long name shows from its start, where names differ, not from its end.
  connect(ComboBox1, &QComboBox::currentIndexChanged, this,
          [this] { ComboBox1->lineEdit()->setCursorPosition(0); });

  openport = MakeButton(GroupBox1, {88, 25, 65, 24}, "Open Port", 2, 65, clLime, clBlack);
  openport->onclick = [this](QObject*) { openportclick(); };
  closeport = MakeButton(GroupBox1, {88, 57, 65, 24}, "Close Port", 8, 0, clRed, clWhite);
  closeport->onclick = [this](QObject*) { closeportclick(); };

  txled = MakeLamp(GroupBox1, 17, 49, LEDSmall, clRed, false);
  rxLED = MakeLamp(GroupBox1, 17, 65, LEDSmall, clLime, true);
  rxLED->OnClick = [this](QObject*) { PortMonitor1Click(); };
  Label12 = MakeLabel(GroupBox1, 37, 52, "TxD", font(), purple);
  Label11 = MakeLabel(GroupBox1, 36, 68, "RxD", font(), purple);

  Image0 = new TImage(":/resources/Image0.svg", client);
  Image0->setGeometry(224, 120, 169, 97);
  Image1 = new TImage(":/resources/Image1.svg", client);
  Image1->setGeometry(224, 120, 169, 97);

  Timer1 = new QTimer(this);
  // A coarse timer may tick up to 5% early: the eleven ticks are the tuner's eleven seconds.
  Timer1->setTimerType(Qt::PreciseTimer);
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, [this] { RunUserAction([this] { Timer1Timer(); }); });
  ReconnectTimer = new QTimer(this);
  ReconnectTimer->setSingleShot(true);
  Timer2 = new QTimer(this);
  Timer2->setInterval(1000);
  connect(Timer2, &QTimer::timeout, this, [this] { RunUserAction([this] { Timer2Timer(); }); });
  // Its tick does nothing yet: left stopped, it does not wake an idle program every second.

  // Only the port list takes the keyboard focus; the window itself gets the other keys.
  for (QWidget* child : findChildren<QWidget*>()) {
    if (child != ComboBox1 && child != ComboBox1->lineEdit()) child->setFocusPolicy(Qt::NoFocus);
  }
}

void TForm1::CreateMenu() {
  // The menus' items say their status tips to a screen reader (why an item is disabled).
  static const bool describedItems = [] {
    QAccessible::installFactory(&TMenuItemAccessible::Create);
    return true;
  }();
  (void)describedItems;
  auto guarded = [this](QAction* action, void (TForm1::*handler)()) {
    connect(action, &QAction::triggered, this,
            [this, handler] { RunUserAction([this, handler] { (this->*handler)(); }); });
  };
  QMenuBar* bar = menuBar();
  // The menu bar is not one of the window's purple controls: it keeps the desktop's menu font
  // and colours instead of inheriting the window's.
  QFont menuFont = QApplication::font(bar);
  menuFont.setResolveMask(QFont::AllPropertiesResolved);
  bar->setFont(menuFont);
  QPalette menuPalette = QApplication::palette(bar);
  menuPalette.setResolveMask(~QPalette::ResolveMask(0));
  bar->setPalette(menuPalette);
  File1 = bar->addMenu("File");
  PortMonitor1 = File1->addAction("Port Monitor");
  guarded(PortMonitor1, &TForm1::PortMonitor1Click);
  AddStation1 = File1->addAction("Add Station...");
  guarded(AddStation1, &TForm1::AddStation1Click);
  RenameStation1 = File1->addAction("Rename Station...");
  guarded(RenameStation1, &TForm1::RenameStation1Click);
  RemoveStation1 = File1->addAction("Remove Station...");
  guarded(RemoveStation1, &TForm1::RemoveStation1Click);
  ForgetStation1 = File1->addAction("Forget Station's Certificate...");
  guarded(ForgetStation1, &TForm1::ForgetStation1Click);
  // Why an item is disabled is its tooltip.
  File1->setToolTipsVisible(true);
  stations_->SetListActions({RenameStation1, RemoveStation1});
  File1->addSeparator();
  Exit1 = File1->addAction("Exit");
  guarded(Exit1, &TForm1::Exit1Click);

  Setup1 = bar->addMenu("Setup");
  SWRmin1 = Setup1->addMenu("SWR min");
  auto* group = new QActionGroup(this);
  group->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
  QAction** items[] = {&SWR11, &SWR12, &SWR13, &SWR14, &SWR15, &SWR16, &SWR17};
  void (TForm1::*handlers[])() = {&TForm1::SWR11Click, &TForm1::SWR12Click, &TForm1::SWR13Click,
                                  &TForm1::SWR14Click, &TForm1::SWR15Click, &TForm1::SWR16Click,
                                  &TForm1::SWR17Click};
  for (int i = 0; i < 7; ++i) {
    QAction* item = SWRmin1->addAction(QString("1.%1").arg(i + 1));
    item->setCheckable(true);
    group->addAction(item);
    guarded(item, handlers[i]);
    *items[i] = item;
  }
  ReconnectAutomatically1 = Setup1->addAction("Reconnect Automatically");
  ReconnectAutomatically1->setCheckable(true);
  ReconnectAutomatically1->setChecked(
      ReadIniString(OptionsFile(), "Options", "ReconnectAutomatically", "0") == "1");
  guarded(ReconnectAutomatically1, &TForm1::ReconnectAutomatically1Click);
  // Memory Clear, which the tuner cannot undo, stays last, apart from the rest.
  Setup1->addSeparator();
  MemoryClear1 = Setup1->addAction("Memory Clear");
  guarded(MemoryClear1, &TForm1::MemoryClear1Click);

  About1 = bar->addAction("About");
  guarded(About1, &TForm1::About1Click);
}

// Names and descriptions for assistive technologies (and the lamps' tooltips). The buttons are
// named by their captions and the readings by their quantities; these are the rest.
void TForm1::DescribeControls() {
  tune1->setAccessibleDescription("Starts a tuning cycle; pressed while the tuner tunes");
  openport->setAccessibleDescription(
      "Opens the selected port and waits for the tuner to identify itself");

  const struct {
    TLedLamp* lamp;
    const char* name;
    const char* meaning;
  } lamps[] = {
      {YellowLED, "Yellow lamp", "Tuning"},    {RedLed, "Red lamp", "Tuning failed"},
      {GreenLED, "Green lamp", "Tuned"},       {txled, "TxD lamp", "Transmit activity"},
      {rxLED, "RxD lamp", "Receive activity"},
  };
  for (const auto& lamp : lamps) {
    lamp.lamp->setAccessibleName(lamp.name);
    lamp.lamp->SetMeaning(lamp.meaning);
  }

  // On AT-SPI the port list is named by the port it shows and labelled by its group box.
  ComboBox1->lineEdit()->setAccessibleName("Port");
  Image0->setAccessibleName("L-network with the capacitor on the left, ahead of the coil");
  Image1->setAccessibleName("L-network with the coil first and the capacitor on the right");
}

void TForm1::AttachPortMonitor(TForm2* monitor) {
  // A monitor that is let go must not touch this window's lamps or call back into it any more.
  if (Form2 != nullptr && Form2 != monitor) {
    Form2->SetActivityLamps(nullptr, nullptr);
    Form2->OnRevealForwardPower = nullptr;
    Form2->OnSendCommand = nullptr;
  }
  Form2 = monitor;
  if (Form2 == nullptr) return;
  Form2->SetActivityLamps(txled, rxLED);
  Form2->OnRevealForwardPower = [this] {
    Label6->show();
    SetCaption(Label7, "");
    Label7->show();
  };
  Form2->OnSendCommand = [this](const std::string& command) { protocol_.Send(command); };
}

void TForm1::FillPortList() {
  std::vector<std::string> names;
  std::vector<std::string> devices;
  SerialPort->ListPorts(names, devices);
  // The list is kept sorted: "COM10" comes before "COM2".
  std::vector<std::size_t> order(names.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return names[a] < names[b]; });
  // Added in one go, each item with its data: item by item, the list box reacts to every
  // insertion and every change of data, which dominates the start with thousands of ports.
  QList<QStandardItem*> items;
  items.reserve(static_cast<qsizetype>(order.size()));
  for (const std::size_t i : order) {
    auto* item = new QStandardItem(FromCp1252(names[i]));
    const QString device = FromCp1252(devices[i]);
    item->setData(device, Qt::ToolTipRole);
    item->setData(device, Qt::AccessibleDescriptionRole);
    items.append(item);
  }
  TStationActions::DescribeStations(items);
  // The list box's own model (a QComboBox keeps its items in a QStandardItemModel).
  qobject_cast<QStandardItemModel*>(ComboBox1->model())->invisibleRootItem()->appendRows(items);
  // The drop-down list is as wide as its longest name, which the narrow field may cut.
  int widest = ComboBox1->width();
  for (QStandardItem* item : items)
    widest = std::max(widest, ComboBox1->fontMetrics().horizontalAdvance(item->text()) + 24);
  ComboBox1->view()->setMinimumWidth(widest);
}

bool TForm1::SelectPort(const std::string& nameOrDevice) {
  std::string name = nameOrDevice;
  if (name.starts_with('/')) name = SerialPort->ListedNameOfDevice(name);
  // A network address names its station itself: it joins the list under the address, which is
  // also its tooltip, as a device path is for a listed port. The list shows what it may show: an
  // address that carries a password is not listed; a malformed one is, so that opening it says
  // what is wrong with it.
  if (TNetworkAddress::IsAddress(name)) {
    std::string reason;
    const std::optional<TNetworkAddress> address = TNetworkAddress::Parse(name, reason);
    if (address) {
      name = address->Shown();
    } else if (TNetworkAddress::Masked(name) != name) {
      name.clear();
    }
  }
  if (TNetworkAddress::IsAddress(name) &&
      ComboBox1->findText(FromCp1252(name), Qt::MatchFixedString) < 0) {
    ComboBox1->addItem(FromCp1252(name));
    ComboBox1->setItemData(ComboBox1->count() - 1, FromCp1252(name), Qt::ToolTipRole);
  }
  const int index = name.empty() ? -1 : ComboBox1->findText(FromCp1252(name), Qt::MatchFixedString);
  ComboBox1->setCurrentIndex(index);
  return index >= 0;
}

QString TForm1::SelectedPortName() const {
  // The operator may have typed over the selection: only a listed name counts.
  const int index = ComboBox1->findText(ComboBox1->currentText(), Qt::MatchFixedString);
  return index >= 0 ? ComboBox1->itemText(index) : QString();
}

void TForm1::SetCaption(QLabel* label, const std::string& text) {
  const QString caption = FromCp1252(text);
  // The tuner repeats its readings many times a second; measuring an unchanged caption anew
  // would cost more than everything else the line does.
  if (caption == label->text()) return;
  label->setText(caption);
  label->adjustSize();
}

void TForm1::FormCreate() {
  FillPortList();
  if (ComboBox1->count() > 0) ComboBox1->setCurrentIndex(0);
  closeport->SetDown(true);
  openport->SetDown(false);

  // Beside the program first. An installed program's folder is not the operator's to write,
  // so a file in the user's configuration folder counts when there is none beside it.
  const QString userDirectory = QFile::decodeName(QByteArray::fromStdString(UserConfigDirectory()));
  std::optional<std::string> port;
  for (const QString& directory : {settingsDirectory_, userDirectory}) {
    if (directory.isEmpty()) continue;
    const QByteArray settings = QFile::encodeName(directory + "/Orvel.ini");
    port = ReadIniString(settings.toStdString(), "Configuration", "Port", "");
    if (port) break;
  }
  if (port && (ComboBox1->currentIndex() >= 0 || TNetworkAddress::IsAddress(*port)))
    SelectPort(*port);

  Image0->hide();
  Image1->hide();
  SetCaption(Label3, "");
  SetCaption(Label4, "");
  SetCaption(Label8, "");
  Label7->hide();
  Label6->hide();
  Timer1->stop();
}

void TForm1::openportclick() {
  ComboBox1->setEnabled(false);
  try {
    const std::string name = ToCp1252(SelectedPortName());
    const TCommPort port = SerialPort->CommPortFromName(name);
    // A listed name that is not COM1..COM254 is opened as itself, not as the design's custom name.
    if (port == spCustom) SerialPort->SetCustomPortName(name);
    SerialPort->SetPort(port);
    SerialPort->SetBaudRate(SerialPort->BaudRateFromNumber(9600));
    SerialPort->SetDataWidth(dw8Bits);
    SerialPort->SetParity(pbNone);
    SerialPort->SetStopBits(sb1Bit);
    SerialPort->SetHwFlowControl(hfNONE);
    SerialPort->SetSwFlowControl(sfNONE);
    SerialPort->SetSynchronizeEvents(true);
    protocol_.ResetFraming();
    connection_->Open();
  } catch (...) {
    // With no port open the operator must be able to pick another one: after a Close Port,
    // which disables Close Port, a locked list would leave only the failing port to retry.
    if (SerialPort->ConnectedPort() == spNone) ComboBox1->setEnabled(true);
    throw;
  }
}

bool TForm1::AskTrustQuestion(const ESerialPortException& refusal) {
  QMessageBox box(QMessageBox::Question, QApplication::applicationName(),
                  FromCp1252(TrustQuestionText(refusal.Certificate(), stations_->Adding(),
                                               PortOpenOrOpening())),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void TForm1::ClosedState() {
  // Whatever was opened before is over: a later failed open keeps the buttons of this state.
  beforeOpen_.reset();
  Timer1->stop();
  ProbeTicks_ = 0;
  SerialPort->Close();
  ComboBox1->setEnabled(true);
  openport->SetDown(false);
  openport->SetCaption("Open port");
  openport->SetEnabled(true);
  closeport->SetEnabled(false);
  stations_->DescribeSelected();
}

void TForm1::closeportclick() {
  connection_->Cancel();
  ClosedState();
}

// Closes as Close Port does (ShowClosed), silently for a local port; the connection tells of a
// lost station and opens the port again when Reconnect Automatically is on.
void TForm1::SerialPortFault(TSerialPort*, TCommPort) {
  connection_->Fault();
}

std::string TForm1::OptionsFile() {
  const std::string folder = UserConfigDirectory();
  return folder.empty() ? std::string() : folder + "/options.ini";
}

void TForm1::ReconnectAutomatically1Click() {
  // Its own small file in the user's folder: Orvel.ini beside the program is only read.
  const std::string path = OptionsFile();
  std::string reason = "Neither XDG_CONFIG_HOME nor HOME names a place for the setting";
  if (path.empty() || !MakePrivateFolder(UserConfigDirectory(), reason) ||
      !WritePrivateFile(path,
                        ReconnectAutomatically1->isChecked()
                            ? "[Options]\nReconnectAutomatically=1\n"
                            : "[Options]\nReconnectAutomatically=0\n",
                        0644, reason)) {
    throw std::runtime_error("Cannot save the setting: " + reason);
  }
  if (!ReconnectAutomatically1->isChecked()) connection_->StopRetrying();
}

void TForm1::Timer1Timer() {
  ++ProbeTicks_;
  if (ProbeTicks_ <= 10) return;
  Timer1->stop();
  ProbeTicks_ = 0;
  closeportclick();
  ShowMessage(QMessageBox::Critical, "Error", "Sorry, ATU not found on " + SelectedPortName(),
              this);
}

// The window's second timer: a tick has nothing to do.
void TForm1::Timer2Timer() {}

void TForm1::SerialPortReceive(TSerialPort*, const std::string& Buffer) {
  protocol_.Receive(Buffer);
  stations_->Heard();
}

void TForm1::tune1click() {
  if (protocol_.AtuConnected()) protocol_.Send(TunerCommands::TuneOn);
}

void TForm1::MemoryClear1Click() {
  protocol_.Send(TunerCommands::MemoryClear);
}

QAction* TForm1::SwrMinItem(int tenths) const {
  QAction* const items[] = {SWR11, SWR12, SWR13, SWR14, SWR15, SWR16, SWR17};
  return items[tenths - TunerCommands::SwrMinLowest];
}

void TForm1::SwrMinClick(int tenths) {
  CheckSwrMin(tenths);
  protocol_.Send(TunerCommands::SwrMin(tenths));
}

void TForm1::SWR11Click() {
  SwrMinClick(11);
}
void TForm1::SWR12Click() {
  SwrMinClick(12);
}
void TForm1::SWR13Click() {
  SwrMinClick(13);
}
void TForm1::SWR14Click() {
  SwrMinClick(14);
}
void TForm1::SWR15Click() {
  SwrMinClick(15);
}
void TForm1::SWR16Click() {
  SwrMinClick(16);
}
void TForm1::SWR17Click() {
  SwrMinClick(17);
}

void TForm1::PortMonitor1Click() {
  if (Form2) Form2->ShowModeless();
}

bool TForm1::FormKeyDown(int key, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode) {
  // The physical key counts, not its symbol: with Ctrl and Alt held, the usual X and Wayland
  // keyboard maps give the keypad minus key the symbol XF86Prev_VMode instead of KP_Subtract.
  // Its key code, which Qt reports as the native scan code there, is evdev's KEY_KPMINUS
  // (74) + 8.
  constexpr quint32 kKeypadMinusKeyCode = 82;
  const bool keypadMinus = (key == Qt::Key_Minus && (modifiers & Qt::KeypadModifier)) ||
                           nativeScanCode == kKeypadMinusKeyCode;
  if (!keypadMinus ||
      (modifiers & ~Qt::KeypadModifier) != (Qt::ControlModifier | Qt::AltModifier)) {
    return false;
  }
  if (Form2) Form2->ShowModal();
  return true;
}

bool TForm1::ComboBox1KeyDown(int key, Qt::KeyboardModifiers modifiers) {
  if (key != Qt::Key_Space ||
      (modifiers & ~Qt::KeypadModifier) != (Qt::ControlModifier | Qt::AltModifier)) {
    return false;
  }
  PortMonitor1Click();
  return true;
}

void TForm1::ComboBox1DblClick() {
  RelistPorts({});
}

void TForm1::About1Click() {
  ShowMessage(
      QMessageBox::Information, "About...",
      "Orvel remote-controls the 1.2 kW automatic antenna tuner over a serial port.\n\n"
      "It shows what the tuner reports (SWR, inductance, capacitance, the side of the "
      "L-network, its status lamps) and sends the tuning, SWR threshold and memory commands.\n\n"
      "Version " ORVEL_VERSION,
      this);
}

void TForm1::Exit1Click() {
  SerialPort->Close();
  QCoreApplication::quit();
}

void TForm1::keyPressEvent(QKeyEvent* event) {
  bool handled = false;
  RunUserAction(
      [&] { handled = FormKeyDown(event->key(), event->modifiers(), event->nativeScanCode()); });
  if (!handled) QMainWindow::keyPressEvent(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    bool handled = false;
    RunUserAction([&] { handled = ComboBox1KeyDown(key->key(), key->modifiers()); });
    if (handled) return true;
  } else if (event->type() == QEvent::MouseButtonDblClick && watched == ComboBox1->lineEdit()) {
    RunUserAction([this] { ComboBox1DblClick(); });
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  // The main window ends the program even while the port monitor is still shown.
  event->accept();
  QCoreApplication::quit();
}

void TForm1::WriteCommand(const std::string& text) {
  const std::uint32_t written = SerialPort->SendString(text);
  // A command that did not go out whole must not be logged as sent; the operator is told.
  if (written < text.size()) {
    throw std::runtime_error(
        "The command did not reach " + TNetworkAddress::Masked(SerialPort->PortName()) + ": only " +
        std::to_string(written) + " of " + std::to_string(text.size()) + " bytes were written.");
  }
}

void TForm1::LogLine(TLogDirection direction, std::string_view text) {
  if (Form2) Form2->LogLine(direction, text);
}

void TForm1::ProcessPendingEvents() {
  QCoreApplication::processEvents();
}

void TForm1::SetSwrText(const std::string& text) {
  SetCaption(Label3, text);
}
void TForm1::SetInductanceText(const std::string& text) {
  SetCaption(Label4, text);
}
void TForm1::SetCapacitanceText(const std::string& text) {
  SetCaption(Label8, text);
}
void TForm1::SetForwardPowerText(const std::string& text) {
  SetCaption(Label7, text);
}
void TForm1::SetRedLamp(bool lit) {
  RedLed->SetValue(lit);
}
void TForm1::SetGreenLamp(bool lit) {
  GreenLED->SetValue(lit);
}
void TForm1::SetYellowLamp(bool lit) {
  YellowLED->SetValue(lit);
}
void TForm1::SetTuneDown(bool down) {
  tune1->SetDown(down);
}

void TForm1::CheckSwrMin(int tenths) {
  for (int item = TunerCommands::SwrMinLowest; item <= TunerCommands::SwrMinHighest; ++item) {
    SwrMinItem(item)->setChecked(item == tenths);
  }
}

void TForm1::ShowNetworkPicture(int picture) {
  Image0->setVisible(picture == 0);
  Image1->setVisible(picture != 0);
}

void TForm1::SetOpenPortCaption(const std::string& caption) {
  openport->SetCaption(FromCp1252(caption));
}

void TForm1::StopProbe() {
  Timer1->stop();
  ProbeTicks_ = 0;
  connection_->Identified();
  stations_->DescribeSelected();
}

void TForm1::OpenAgain(bool asClick) {
  openportclick();
  // The latch as the operator's click leaves it: toggled with the click that trusted the
  // station, and down for a try of the reconnection, which opens again what the operator opened.
  openport->SetDown(asClick ? !openport->Down() : true);
}

void TForm1::ShowConnecting() {
  if (!beforeOpen_) {
    beforeOpen_ = TButtonsBeforeOpen{openport->Caption(), openport->isEnabled(), openport->Down(),
                                     closeport->isEnabled(), closeport->Down()};
  }
  ComboBox1->setEnabled(false);
  closeport->SetDown(false);
  closeport->SetEnabled(true);
  openport->SetEnabled(false);
  openport->SetCaption("Connecting...");
  stations_->DescribeSelected();
}

void TForm1::ShowOpened() {
  beforeOpen_.reset();
  closeport->SetDown(false);
  closeport->SetEnabled(true);
  SerialPort->SendString(TunerCommands::WireForm(TunerCommands::Probe));
  openport->SetEnabled(false);
  openport->SetCaption("Connecting...");
  Timer1->start();
  ProbeTicks_ = 0;
  stations_->DescribeSelected();
}

void TForm1::ShowClosed() {
  ClosedState();
}

void TForm1::ShowBeforeOpen() {
  if (beforeOpen_) {
    openport->SetCaption(beforeOpen_->OpenCaption);
    openport->SetEnabled(beforeOpen_->OpenEnabled);
    openport->SetDown(beforeOpen_->OpenDown);
    closeport->SetEnabled(beforeOpen_->CloseEnabled);
    closeport->SetDown(beforeOpen_->CloseDown);
    beforeOpen_.reset();
  }
  // With no port open the operator must be able to pick another one.
  if (SerialPort->ConnectedPort() == spNone) ComboBox1->setEnabled(true);
  stations_->DescribeSelected();
}

void TForm1::ShowRetryReason(const std::string& reason) {
  const QString usual = "Opens the selected port and waits for the tuner to identify itself";
  openport->setToolTip(FromCp1252(reason));
  openport->setAccessibleDescription(reason.empty() ? usual : usual + ". " + FromCp1252(reason));
}

void TForm1::Announce(const std::string& text) {
  // No box per loss: the desktop's notification where there is one, and always the port
  // monitor's log and the trace.
  TDesktopNotifier::Notify("Connection lost", FromCp1252(text));
  if (Form2) Form2->LogNote(text);
  ORVEL_TRACE(Network, "%s", text.c_str());
}

bool TForm1::ReconnectsAutomatically() const {
  return ReconnectAutomatically1->isChecked();
}

bool TForm1::CanAskTrust() const {
  return static_cast<bool>(AskToTrustStation);
}

bool TForm1::AskTrust(const ESerialPortException& refusal) {
  return AskToTrustStation(refusal);
}

bool TForm1::TakeRefusal(const ESerialPortException& refusal) {
  if (!OnStationChanged) return false;
  OnStationChanged(refusal);
  return true;
}

bool TForm1::PortOpen() const {
  return SerialPort->ConnectedPort() != spNone;
}

bool TForm1::PortOpenOrOpening() const {
  return PortOpen() || SerialPort->Opening();
}

std::optional<std::chrono::system_clock::time_point> TForm1::LastHeard() const {
  return SerialPort->LastHeard();
}

std::optional<std::chrono::microseconds> TForm1::LastRoundTrip() const {
  return SerialPort->LastRoundTrip();
}

void TForm1::RelistPorts(const std::string& name) {
  ComboBox1->clear();
  FillPortList();
  SelectPort(name);
}

void TForm1::ClickOpenPort() {
  openport->Click();
}
