// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TForm2: the port monitor window. It keeps the log of every protocol line sent and received,
// offers the raw command line and saves the log; it tells the main window what to show.
#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <string_view>

#include "TunerCommands.h"

class QAction;
class QCheckBox;
class QEventLoop;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;

class TForm2 : public QWidget {
 public:
  explicit TForm2(QWidget* parent = nullptr);
  ~TForm2() override;

  // A line was sent or received: appends its log form (Windows-1252 bytes, any byte allowed,
  // no terminator) to the live log, moves its caret to the end and runs the change rule.
  void LogLine(TLogDirection direction, std::string_view text);

  // Events, skipped while unassigned; the main window connects them at start-up.
  // After every change of the log: the direction of the live log's newest row ("-" at its
  // start: sent), whose activity lamp the main window toggles.
  std::function<void(TLogDirection newest)> OnLogChange;
  // A reveal word was entered: the main window shows its forward-power readout, emptied.
  std::function<void()> OnRevealForwardPower;
  // The operator sends a command (no terminator): the main window writes and logs it, or
  // throws when the port is not open.
  std::function<void(const std::string& command)> OnSendCommand;

  void ShowModeless();
  // Returns when the window has been closed; when it is already shown, brings it to the front.
  void ShowModal();

  // Rows that the live log displays at its current width (a wrapped entry counts as several).
  int LiveRows();

  // Handlers, named after their control and event. Errors (a closed port, an unwritable file)
  // leave them as exceptions; nothing is logged or changed after the failing step.
  void Memo1Change();
  void CheckBox1Click();
  void Clear1Click();
  void Send1Click();
  void Savealltofile1Click();
  // Acts on Enter (Qt::Key_Return or Qt::Key_Enter) whatever modifiers are held.
  void Edit1KeyDown(int Key, Qt::KeyboardModifiers Shift);

  QFrame* Panel1;
  QPushButton* Button2;
  QLineEdit* Edit1;
  QCheckBox* CheckBox1;
  QLabel* StaticText1;
  QLabel* StaticText2;
  QPlainTextEdit* Memo1;  // the live log
  QPlainTextEdit* Memo2;  // the frozen copy
  QMenu* PopupMenu1;
  QAction* Clear1;
  QAction* N1;
  QAction* Send1;
  QAction* N2;
  QAction* Savealltofile1;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  // An error raised by a handler that a control triggered is rethrown here, from the window's
  // own posted event, so that it reaches the application's error display.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LayOutControls();
  void AppendEntry(QPlainTextEdit* memo, const QString& text, bool fieldHasLines);
  void EmptyField(QPlainTextEdit* memo);
  void EmptyLiveLog();
  void CountAllRows();
  void OperatorEditedLive();
  void OperatorEditedFrozen();
  void AppendLog(const QString& line);
  void SendCommand(const std::string& command);
  void EnterCommandLine(const QString& text);
  void NoticeCommandTooLong();

  // The change rule needs the live log's row count after every append; it is kept up to date
  // by adding the rows of each appended entry, and counted afresh only after the operator has
  // typed into the log or the field's width has changed.
  int LiveRowCount = 0;
  bool LiveHoldsLines = false;  // an empty document may still hold one empty line
  bool FrozenHoldsLines = false;
  bool RowCountStale = false;
  int CountedAtWidth = -1;

  // Set while the program itself changes a log field, so that only the operator's typing
  // reaches the change notification.
  bool ProgramEdit = false;
  QEventLoop* ModalLoop = nullptr;
};
