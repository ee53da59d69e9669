// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TForm1: the main window. It lays out the controls, runs the connection to the tuner (open,
// probe, identification, close, fault), sends the operator's commands and shows what the
// tuner reports through the line protocol.
#pragma once

#include <QMainWindow>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ConnectionController.h"
#include "app/ReadingLabel.h"
#include "app/SerialConnectionPort.h"
#include "app/StationActions.h"
#include "protocol/TunerHost.h"
#include "protocol/TunerProtocol.h"
#include "serial/SerialPort.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QTimer;
class TColorButton;
class TForm2;
class TImage;
class TLedLamp;
class TQtConnectionClock;
class TQtUiHandOver;

class TForm1 : public QMainWindow,
               private TTunerHost,
               private TConnectionController::TWindow,
               private TStationActions::TWindow {
 public:
  // Runs FormCreate. `settingsDirectory` is where "Orvel.ini" is looked for first (the
  // program's own directory; tests give another), then the user's configuration folder,
  // ${XDG_CONFIG_HOME:-~/.config}/orvel.
  explicit TForm1(const QString& settingsDirectory, QWidget* parent = nullptr);
  ~TForm1() override;

  // The port monitor window, created after this one: its log receives every protocol line and
  // toggles this window's activity lamps, and its events reveal the forward power and send
  // commands. nullptr lets the monitor go.
  void AttachPortMonitor(TForm2* monitor);

  // Selects the listed port with this name (letter case ignored) or behind this device path;
  // no port is selected when there is none. Returns whether one was found.
  bool SelectPort(const std::string& nameOrDevice);

  bool AtuConnected() const { return protocol_.AtuConnected(); }
  std::uint8_t ProbeTicks() const { return ProbeTicks_; }

  // Handlers, named after their control and event.
  void FormCreate();
  void openportclick();
  void closeportclick();
  void Timer1Timer();
  void Timer2Timer();
  void SerialPortReceive(TSerialPort* Sender, const std::string& Buffer);
  void SerialPortFault(TSerialPort* Sender, TCommPort Port);
  void tune1click();
  void MemoryClear1Click();
  void SWR11Click();
  void SWR12Click();
  void SWR13Click();
  void SWR14Click();
  void SWR15Click();
  void SWR16Click();
  void SWR17Click();
  void PortMonitor1Click();
  // File > Add Station, Rename Station, Remove Station, Forget Station's Certificate, and Add
  // Station's check of a station: TStationActions does them.
  void AddStation1Click() { stations_->AddStation1Click(); }
  void AddStation(const std::string& name, const std::string& address) {
    stations_->AddStation(name, address);
  }
  void RenameStation1Click() { stations_->RenameStation1Click(); }
  void RemoveStation1Click() { stations_->RemoveStation1Click(); }
  void ForgetStation1Click() { stations_->ForgetStation1Click(); }
  void ComboBox1DblClick();
  void About1Click();
  void ReconnectAutomatically1Click();
  // Where the choice of Setup > Reconnect Automatically is kept.
  static std::string OptionsFile();
  void Exit1Click();
  // Ctrl+Alt+keypad minus (FormKeyDown) and Ctrl+Alt+Space in the port list (ComboBox1KeyDown).
  // The keypad minus key is recognised by Qt's key and keypad flag, or by its physical key
  // code where the window system gives one (`nativeScanCode`, 0 when there is none).
  bool FormKeyDown(int key, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode = 0);
  bool ComboBox1KeyDown(int key, Qt::KeyboardModifiers modifiers);

  // The controls, named as on the window.
  QLabel *Label1, *Label2, *Label5, *Label6;
  TReadingLabel *Label3, *Label4, *Label7, *Label8;
  QLabel *Label11, *Label12;
  TLedLamp *YellowLED, *RedLed, *GreenLED, *txled, *rxLED;
  TColorButton *tune1, *openport, *closeport;
  QGroupBox* GroupBox1;
  QComboBox* ComboBox1;
  TImage *Image0, *Image1;
  QMenu *File1, *Setup1, *SWRmin1;
  QAction *RenameStation1, *RemoveStation1, *ForgetStation1;
  QAction *PortMonitor1, *AddStation1, *Exit1, *MemoryClear1, *ReconnectAutomatically1, *About1;
  QAction *SWR11, *SWR12, *SWR13, *SWR14, *SWR15, *SWR16, *SWR17;
  QTimer *Timer1, *Timer2;
  // The next attempt to open again a port that closed through a fault.
  QTimer* ReconnectTimer;
  std::unique_ptr<TSerialPort> SerialPort;
  TForm2* Form2 = nullptr;

  // Asked when a station shows a certificate that nothing vouches for (the refusal holds the
  // station and the certificate's fingerprint): whether to trust it and connect. The window's
  // own question unless replaced; empty, the refusal is shown as any failure is.
  std::function<bool(const ESerialPortException& refusal)> AskToTrustStation;
  // Told, in place of the error box when set, of a station refused for its certificate in a way
  // that no question settles: another certificate than the one trusted, or a known-stations file
  // that cannot be trusted.
  std::function<void(const ESerialPortException& refusal)> OnStationChanged;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void CreateMenu();
  void DescribeControls();
  void FillPortList();
  void SetCaption(QLabel* label, const std::string& text);
  void ClosedState();
  bool AskTrustQuestion(const ESerialPortException& refusal);
  void SwrMinClick(int tenths);
  QAction* SwrMinItem(int tenths) const;

  // The line protocol's view of this window.
  void WriteCommand(const std::string& text) override;
  void LogLine(TLogDirection direction, std::string_view text) override;
  void ProcessPendingEvents() override;
  void SetSwrText(const std::string& text) override;
  void SetInductanceText(const std::string& text) override;
  void SetCapacitanceText(const std::string& text) override;
  void SetForwardPowerText(const std::string& text) override;
  void SetRedLamp(bool lit) override;
  void SetGreenLamp(bool lit) override;
  void SetYellowLamp(bool lit) override;
  void SetTuneDown(bool down) override;
  void CheckSwrMin(int tenths) override;
  void ShowNetworkPicture(int picture) override;
  void SetOpenPortCaption(const std::string& caption) override;
  void StopProbe() override;

  // The window as the connection sees it.
  void OpenAgain(bool asClick) override;
  void ShowConnecting() override;
  void ShowOpened() override;
  void ShowClosed() override;
  void ShowBeforeOpen() override;
  void ShowRetryReason(const std::string& reason) override;
  void Announce(const std::string& text) override;
  bool ReconnectsAutomatically() const override;
  // Asked by the connection and by Add Station alike.
  bool CanAskTrust() const override;
  bool AskTrust(const ESerialPortException& refusal) override;
  bool TakeRefusal(const ESerialPortException& refusal) override;

  // The window as the station actions see it.
  QString SelectedPortName() const override;
  bool PortOpen() const override;
  bool PortOpenOrOpening() const override;
  std::optional<std::chrono::system_clock::time_point> LastHeard() const override;
  std::optional<std::chrono::microseconds> LastRoundTrip() const override;
  void RelistPorts(const std::string& name) override;
  void ClickOpenPort() override;

  QString settingsDirectory_;
  TTunerProtocol protocol_;
  std::unique_ptr<TQtUiHandOver> handOver_;
  std::uint8_t ProbeTicks_ = 0;
  // Gone before the hand-over its station check delivers through.
  std::unique_ptr<TStationActions> stations_;
  TSerialConnectionPort connectionPort_;
  std::unique_ptr<TQtConnectionClock> clock_;
  std::unique_ptr<TConnectionController> connection_;
  // Open Port latches down once its handler has returned: a failure found later lets it up.
  struct TButtonsBeforeOpen {
    QString OpenCaption;
    bool OpenEnabled, OpenDown, CloseEnabled, CloseDown;
  };
  std::optional<TButtonsBeforeOpen> beforeOpen_;
};
