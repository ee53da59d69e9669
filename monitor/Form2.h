// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// TForm2: the port monitor window. It keeps the log of every protocol line sent and received,
// offers the raw command line and saves the log; it tells the main window what to show.
#pragma once

#include <QHash>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "protocol/TunerCommands.h"

class QAction;
class QCheckBox;
class QEventLoop;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class TLedLamp;

class TForm2 : public QWidget {
 public:
  explicit TForm2(QWidget* parent = nullptr);
  ~TForm2() override;

  // A line was sent or received: appends its log form (Windows-1252 bytes, any byte allowed,
  // no terminator) to the live log, moves its caret to the end and runs the change rule.
  void LogLine(TLogDirection direction, std::string_view text);
  // A note of the program's own for the operator (a lost station), logged as it is.
  void LogNote(std::string_view text);

  // The main window's activity lamps, which every change of the log toggles: the TxD lamp
  // when the live log's newest row starts with "-", the RxD lamp otherwise. The main window
  // hands them over at start-up and takes them back (nullptr) when it lets the monitor go.
  void SetActivityLamps(TLedLamp* txd, TLedLamp* rxd);

  // Events, skipped while unassigned; the main window connects them at start-up.
  // A reveal word was entered: the main window shows its forward-power readout, emptied.
  std::function<void()> OnRevealForwardPower;
  // The operator sends a command (no terminator): the main window writes and logs it, or
  // throws when it did not go out whole (the port not open, the write cut short).
  std::function<void(const std::string& command)> OnSendCommand;

  void ShowModeless();
  // Returns when the window has been closed; when it is already shown, brings it to the front.
  void ShowModal();

  // Rows that the live log displays at its current width (a wrapped entry counts as several).
  int LiveRows();
  // The live log's editor, holding every entry: whoever reads Memo1 directly must go through
  // here, as entries logged while the editor was out of view have not reached it yet.
  QPlainTextEdit* LiveLog();

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
  // Brings the live log up to date the moment it comes into view (see PendingEntries).
  // An error raised by a handler that a control triggered is rethrown here, from the window's
  // own posted event, so that it reaches the application's error display.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LayOutControls();
  void AppendEntry(QPlainTextEdit* memo, const QString& text, bool fieldHasLines);
  void BringLiveLogUpToDate();
  struct TEntryShape {
    int Rows = 1;
    QChar NewestStart;  // the first character of the entry's last row; none when it is empty
  };
  TEntryShape MeasureEntry(const QString& text);
  void EmptyField(QPlainTextEdit* memo);
  void EmptyLiveLog();
  void CountAllRows();
  void OperatorEditedLive();
  void OperatorEditedFrozen();
  void AppendLog(const QString& line);
  void SendCommand(const std::string& command);

  // The change rule needs the live log's row count after every append; it is kept up to date
  // by adding the rows of each appended entry, and counted afresh only after the operator has
  // typed into the log or the field's width has changed.
  int LiveRowCount = 0;
  bool LiveHoldsLines = false;  // an empty document may still hold one empty line
  bool FrozenHoldsLines = false;
  bool RowCountStale = false;
  int CountedAtWidth = -1;

  // Laying out the log's editor is most of the cost of a received line. While the editor is
  // out of view (window hidden, or frozen), new entries wait here, already counted in
  // LiveRowCount, and reach the editor in one go when it is shown or read. The change rule
  // needs each entry's rows; they are measured in a hidden editor set up like the log's, and
  // remembered per text, as the tuner repeats the same few lines.
  QStringList PendingEntries;
  QChar PendingNewestStart;
  std::unique_ptr<QPlainTextEdit> MeasureEditor;
  QHash<QString, TEntryShape> ShapeCache;
  int ShapeCacheWidth = -1;

  // Set while the program itself changes a log field, so that only the operator's typing
  // reaches the change notification.
  bool ProgramEdit = false;
  QEventLoop* ModalLoop = nullptr;
  TLedLamp* TxdLamp = nullptr;
  TLedLamp* RxdLamp = nullptr;
};
