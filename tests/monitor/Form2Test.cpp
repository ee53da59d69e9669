// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The port monitor: lamp toggles, row cap, freeze, command line, help, reveal words, saving.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "controls/LedLamp.h"
#include "controls/UserAction.h"
#include "monitor/Form2.h"
#include "monitor/OverwriteFile.h"

// Failure messages show the text rather than its UTF-16 code units.
void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

const char* const kNotOpen = "COM3 is not open. Serial port is not connected.";

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "";
}

QStringList Lines(const QPlainTextEdit* memo) {
  QStringList lines;
  if (memo->document()->isEmpty()) return lines;
  for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next()) {
    lines.append(block.text());
  }
  return lines;
}

// Runs the test in a fresh working directory, where the log file is written.
class ScopedWorkingDirectory {
 public:
  explicit ScopedWorkingDirectory(const QString& path) : Previous(QDir::currentPath()) {
    QDir::setCurrent(path);
  }
  ~ScopedWorkingDirectory() { QDir::setCurrent(Previous); }

 private:
  QString Previous;
};

std::string ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return "<missing>";
  return file.readAll().toStdString();
}

// The main window's side: the monitor flips its two activity lamps, shown, and each flip is
// seen at the paint a lamp makes the moment its Value changes; the monitor's events are
// recorded; a command is "written" and logged as the main window does, unless the port is closed.
class Form2Test : public QObject, public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(QTest::qWaitForWindowExposed(&lamps)); }
  Form2Test() {
    for (TLedLamp* lamp : {txd, rxd}) lamp->installEventFilter(this);
    rxd->move(0, 20);  // a lamp hidden under the other would not paint
    lamps.show();
    form->SetActivityLamps(txd, rxd);
    form->OnRevealForwardPower = [this] { ++reveals; };
    form->OnSendCommand = [this](const std::string& command) {
      if (!portOpen) throw std::runtime_error(kNotOpen);
      sent.push_back(command);
      form->LogLine(ldSent, command);
    };
  }

  bool eventFilter(QObject* lamp, QEvent* event) override {
    bool& shown = lamp == txd ? txShown : rxShown;
    if (event->type() == QEvent::Paint && static_cast<TLedLamp*>(lamp)->Value() != shown) {
      shown = !shown;
      changes.push_back(lamp == txd ? ldSent : ldReceived);
    }
    return false;
  }

  // The lamp flips that the action made, by lamp.
  struct Toggles {
    int rx = 0;
    int tx = 0;
  };
  Toggles Count(const std::function<void()>& action) {
    changes.clear();
    action();
    Toggles toggles;
    for (TLogDirection lamp : changes) ++(lamp == ldSent ? toggles.tx : toggles.rx);
    return toggles;
  }

  void Received(const std::string& line) { form->LogLine(ldReceived, line); }

  // Characters in one row of the log at its current width. A logged entry breaks after its
  // prefix's blank when the rest does not fit the first row: an entry of n rows of x's takes
  // n + 1 rows.
  int RowWidth() {
    Received(std::string(500, 'x'));
    const QTextBlock block = form->LiveLog()->document()->lastBlock();
    const int width = block.layout()->lineAt(1).textLength();
    form->Clear1Click();
    return width;
  }

  void Type(const QString& text) {
    form->Edit1->setText(text);
    form->Edit1KeyDown(Qt::Key_Return, Qt::NoModifier);
  }

  QWidget lamps;  // the main window's, outliving the form
  TLedLamp* txd = new TLedLamp(&lamps);
  TLedLamp* rxd = new TLedLamp(&lamps);
  bool txShown = false, rxShown = false;
  std::unique_ptr<TForm2> form = std::make_unique<TForm2>();
  std::vector<TLogDirection> changes;  // the lamps flipped, in order
  int reveals = 0;
  bool portOpen = true;
  std::vector<std::string> sent;
};

TEST_F(Form2Test, EachLineTogglesTheLampOfItsDirection) {
  struct Case {
    TLogDirection direction;
    std::string text;
    bool txLamp;
  };
  const Case cases[] = {
      {ldSent, "TUNE ON", true}, {ldReceived, "SWR: 15", false},
      {ldReceived, "", false},   {ldReceived, "-", false},
      {ldSent, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    for (int repeat = 0; repeat < 2; ++repeat) {
      const Toggles toggles = Count([&] { form->LogLine(c.direction, c.text); });
      EXPECT_EQ(toggles.tx, c.txLamp ? 1 : 0);
      EXPECT_EQ(toggles.rx, c.txLamp ? 0 : 1);
    }
    EXPECT_EQ(Lines(form->LiveLog()).last().toStdString(),
              (c.direction == ldSent ? "- " : "+ ") + c.text);
  }
}

TEST_F(Form2Test, TheNewestRowOfAWrappedEntryDecides) {
  form->show();
  const int row = RowWidth();
  ASSERT_GT(row, 10);
  struct Case {
    TLogDirection direction;
    std::string text;
    int rows;
    bool txLamp;
  };
  const Case cases[] = {
      {ldReceived, std::string(row - 2, 'x') + " -yyy", 2, true},
      {ldSent, std::string(2 * row, 'x'), 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    form->Clear1Click();
    const Toggles toggles = Count([&] { form->LogLine(c.direction, c.text); });
    EXPECT_EQ(form->LiveRows(), c.rows);
    EXPECT_EQ(toggles.tx, c.txLamp ? 1 : 0);
    EXPECT_EQ(toggles.rx, c.txLamp ? 0 : 1);
  }
}

TEST_F(Form2Test, TheLiveLogHoldsAtMostAThousandRows) {
  struct Case {
    const char* name;
    bool shown;
    int wrappedRows;  // one entry this many rows long, then short lines
    int shortLines;
    bool emptied;
  };
  const Case cases[] = {
      // The window is hidden at start and the log fills all the same.
      {"never shown, 1000 rows", false, 3, 997, false},
      {"never shown, 1001 rows", false, 3, 998, true},
      {"999 then one", true, 0, 1000, false},
      {"1000 then one", true, 0, 1001, true},
      {"wrapped, 1000 rows", true, 3, 997, false},
      {"wrapped, 1001 rows", true, 3, 998, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    form->setVisible(c.shown);
    const int row = RowWidth();
    if (c.wrappedRows > 0) {
      Received(std::string((c.wrappedRows - 1) * row, 'x'));
      ASSERT_EQ(form->LiveRows(), c.wrappedRows);
    }
    for (int i = 1; i < c.shortLines; ++i) Received("SWR: " + std::to_string(i));
    ASSERT_EQ(Lines(form->LiveLog()).size(), c.shortLines - 1 + (c.wrappedRows > 0 ? 1 : 0));
    const Toggles last = Count([&] { Received("last"); });
    EXPECT_EQ(last.rx, 1);  // the line lost to the cap still toggled its lamp
    if (c.emptied) {
      EXPECT_TRUE(Lines(form->LiveLog()).isEmpty());
      EXPECT_EQ(form->LiveRows(), 0);
    } else {
      EXPECT_EQ(form->LiveRows(), 1000);
      EXPECT_EQ(Lines(form->LiveLog()).last(), "+ last");
    }
    form->Clear1Click();
  }
}

TEST_F(Form2Test, RowsAreCountedAtTheFieldsCurrentWidth) {
  form->show();
  const int row = RowWidth();
  Received(std::string(2 * row, 'x'));
  ASSERT_EQ(form->LiveRows(), 3);
  form->resize(290 + 3 * 8 * row, 400);
  EXPECT_EQ(form->LiveRows(), 1);
}

// Shown, hidden while the lines arrive, or frozen while they arrive: once the live log is
// displayed, its newest line is in view and the caret at the end, also after the operator
// put the caret elsewhere.
TEST_F(Form2Test, AnAppendScrollsTheLiveLogToItsNewestLine) {
  enum TWhile { Shown, Hidden, Frozen };
  for (const TWhile during : {Shown, Hidden, Frozen}) {
    SCOPED_TRACE(during);
    form->show();
    form->Clear1Click();
    Received("first");
    form->Memo1->setTextCursor(QTextCursor(form->Memo1->document()));
    if (during == Hidden) form->hide();
    if (during == Frozen) form->CheckBox1->click();
    for (int i = 0; i < 200; ++i) Received("SWR: " + std::to_string(i));
    if (during == Hidden) form->show();
    if (during == Frozen) form->CheckBox1->click();
    QCoreApplication::processEvents();
    const QScrollBar* bar = form->Memo1->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(form->Memo1->textCursor().atEnd());
  }
}

// A log that fills out of view (window hidden, or frozen) reads, once shown, frozen or saved,
// exactly as one that filled in view: the same entries, rows, cap and lamp toggles, also when
// the window is resized on the way and the same entries come again at the new width.
TEST_F(Form2Test, ALogFilledOutOfViewEqualsOneFilledInView) {
  form->show();
  const QSize designSize = form->size();
  const QSize wider(designSize.width() * 3 / 2, designSize.height());
  const int row = RowWidth();
  std::vector<std::pair<TLogDirection, std::string>> entries;
  for (int i = 0; i < 1400; ++i) {
    switch (i % 7) {
      case 0:
        entries.emplace_back(ldReceived, "SWR: " + std::to_string(i));
        break;
      case 1:
        entries.emplace_back(ldReceived, "K: 1");
        break;
      case 2:
        entries.emplace_back(ldSent, "TUNE ON");
        break;
      case 3:
        entries.emplace_back(ldReceived, i % 2 ? "" : "\x01\x7f\xb5");
        break;
      case 4:
        entries.emplace_back(ldReceived, std::string(row - 2, 'x') + " -yyy");
        break;
      case 5:
        entries.emplace_back(ldSent, std::string(2 * row + i % 5, 'x'));
        break;
      default:
        entries.emplace_back(ldReceived, "K: 1");
        break;
    }
  }
  struct Observed {
    std::vector<TLogDirection> toggles;
    std::vector<int> rows;
    QStringList live;
    QStringList frozen;
  };
  enum TWhile { Shown, Hidden, Frozen };
  auto fill = [&](TWhile during) {
    form->resize(designSize);
    form->Clear1Click();
    if (during == Hidden) form->hide();
    if (during == Frozen) form->CheckBox1->click();
    Observed seen;
    changes.clear();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (i == entries.size() / 2) form->resize(wider);
      form->LogLine(entries[i].first, entries[i].second);
      if (i % 97 == 0) seen.rows.push_back(form->LiveRows());
    }
    if (during == Hidden) form->show();
    if (during == Frozen) form->CheckBox1->click();
    seen.live = Lines(form->LiveLog());
    EXPECT_TRUE(form->Memo1->textCursor().atEnd());
    form->CheckBox1->click();
    seen.frozen = Lines(form->Memo2);
    form->CheckBox1->click();
    seen.toggles = changes;
    return seen;
  };
  const Observed inView = fill(Shown);
  ASSERT_GT(inView.live.size(), 50);
  ASSERT_LT(inView.live.size(), entries.size());  // the cap emptied the log on the way
  for (const TWhile during : {Hidden, Frozen}) {
    SCOPED_TRACE(during);
    const Observed outOfView = fill(during);
    EXPECT_EQ(outOfView.live, inView.live);
    EXPECT_EQ(outOfView.frozen, inView.frozen);
    EXPECT_EQ(outOfView.rows, inView.rows);
    EXPECT_EQ(outOfView.toggles, inView.toggles);
  }
}

TEST_F(Form2Test, FreezeReceiveClearFollow) {
  form->show();
  Received("SWR: 15");
  form->LogLine(ldSent, "TUNE ON");
  Received("L: 12");
  const Toggles freezing = Count([&] { form->CheckBox1->click(); });
  EXPECT_FALSE(form->CheckBox1->isChecked());
  EXPECT_EQ(freezing.rx, 3);  // the live log's newest line decides, once per copied line
  EXPECT_EQ(freezing.tx, 0);
  EXPECT_TRUE(form->Memo2->isVisible());
  EXPECT_FALSE(form->Memo1->isVisible());
  EXPECT_EQ(Lines(form->Memo2), QStringList({"+ SWR: 15", "- TUNE ON", "+ L: 12"}));
  EXPECT_TRUE(form->Memo2->textCursor().atEnd());
  EXPECT_FALSE(form->Memo2->textCursor().hasSelection());

  Received("C: 7");
  EXPECT_EQ(Lines(form->LiveLog()).size(), 4);
  EXPECT_EQ(Lines(form->Memo2).size(), 3);

  form->CheckBox1->click();
  EXPECT_TRUE(form->Memo1->isVisible());
  EXPECT_FALSE(form->Memo2->isVisible());
  EXPECT_EQ(Lines(form->Memo2).size(), 3);  // kept until the next freeze or clear

  form->CheckBox1->click();
  const Toggles clearing = Count([&] { form->Button2->click(); });
  EXPECT_EQ(clearing.rx + clearing.tx, 0);
  EXPECT_TRUE(Lines(form->LiveLog()).isEmpty());
  EXPECT_TRUE(Lines(form->Memo2).isEmpty());
  EXPECT_TRUE(form->Memo2->isVisible());
  EXPECT_FALSE(form->CheckBox1->isChecked());
}

// The frozen copy takes the live log's displayed rows, one line each, and every copied row
// toggles the lamp once, so a wrapped entry toggles it once per row.
TEST_F(Form2Test, FreezingCopiesDisplayedRows) {
  form->show();
  const int row = RowWidth();
  Received(std::string(2 * row, 'x'));
  form->LogLine(ldSent, "TUNE ON");
  ASSERT_EQ(form->LiveRows(), 4);
  const Toggles freezing = Count([&] { form->CheckBox1->click(); });
  EXPECT_EQ(freezing.tx, 4);
  EXPECT_EQ(freezing.rx, 0);
  const QString rowOfX(row, 'x');
  EXPECT_EQ(Lines(form->Memo2), QStringList({"+ ", rowOfX, rowOfX, "- TUNE ON"}));
  EXPECT_EQ(Lines(form->LiveLog()).size(), 2);
}

TEST_F(Form2Test, TypingIntoTheLogRunsTheChangeRule) {
  form->show();
  form->LogLine(ldSent, "SWRmin 15");
  const Toggles typing = Count([&] { QTest::keyClicks(form->Memo1, "0"); });
  EXPECT_EQ(typing.tx, 1);
  EXPECT_EQ(typing.rx, 0);
  EXPECT_EQ(Lines(form->LiveLog()), QStringList({"- SWRmin 150"}));
}

TEST_F(Form2Test, HelpListsTwelveLinesAndSendsNothing) {
  form->show();
  const Toggles help = Count([&] {
    QTest::keyClicks(form->Edit1, "HELP");
    QTest::keyClick(form->Edit1, Qt::Key_Return);
  });
  EXPECT_EQ(help.rx, 12);
  EXPECT_EQ(help.tx, 0);
  EXPECT_TRUE(sent.empty());
  EXPECT_TRUE(form->Edit1->text().isEmpty());
  const QStringList expected = {
      "????",
      "CMEM         - clear memory",
      "Port_C ?/xxx - xxx - binary",
      "Port_L ?/xxx - xxx - binary",
      "SWRmin ?/xx  - xx - SWRx10",
      "MaxFWD ?/xxx - xxx - power in ADC,",
      "               10W about 500, default=700",
      "RDelay ?/xx  - xx - delay in ms",
      "               typical 10-12ms",
      "HELP         - this info",
      "vorpalitis",
      "KVL_tonic",
  };
  EXPECT_EQ(Lines(form->LiveLog()), expected);
}

TEST_F(Form2Test, RevealWordsShowTheForwardPower) {
  int expected = 0;
  for (const char* word : {"vorpalitis", "KVL_tonic", "vorpalitis"}) {
    SCOPED_TRACE(word);
    Type(word);
    EXPECT_EQ(reveals, ++expected);
    EXPECT_TRUE(form->Edit1->text().isEmpty());
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(Lines(form->LiveLog()).isEmpty());
  }
}

TEST_F(Form2Test, AnyOtherTextIsSentAsTyped) {
  const QString texts[] = {"help", "Vorpalitis", "HELP ",       " TUNE ",
                           "   ",  "SWRmin 15",  "\u00c4\u20ac"};
  for (const QString& text : texts) {
    SCOPED_TRACE(text.toStdString());
    sent.clear();
    form->Edit1->setText(text);
    form->Edit1KeyDown(Qt::Key_Enter, Qt::ControlModifier | Qt::AltModifier);
    const std::string bytes = text == "\u00c4\u20ac" ? "\xc4\x80" : text.toStdString();
    EXPECT_EQ(sent, std::vector<std::string>({bytes}));
    EXPECT_EQ(Lines(form->LiveLog()).last(), "- " + text);
    EXPECT_TRUE(form->Edit1->text().isEmpty());
  }
  EXPECT_EQ(reveals, 0);
}

TEST_F(Form2Test, OnlyEnterActsAndAnEmptyLineDoesNothing) {
  form->Edit1->setText("TUNE");
  for (int key : {Qt::Key_A, Qt::Key_Space, Qt::Key_Tab, Qt::Key_Escape}) {
    form->Edit1KeyDown(key, Qt::NoModifier);
  }
  EXPECT_EQ(form->Edit1->text(), "TUNE");
  form->Edit1->clear();
  form->Edit1KeyDown(Qt::Key_Return, Qt::NoModifier);
  EXPECT_TRUE(sent.empty());
  EXPECT_TRUE(Lines(form->LiveLog()).isEmpty());
}

// The field shows one line of any length, and Enter sends exactly that: of a paste with line
// breaks only its first line goes in, beside what the field held.
TEST_F(Form2Test, WhatTheFieldShowsIsWhatEnterSends) {
  const QString longPaste(200 * 1024, 'A');
  struct Case {
    QString before;
    int caret;
    QString pasted;
    QString shown;
  };
  const Case cases[] = {
      {"", 0, "CMEM\r\nSWRmin 13\nHELP", "CMEM"},
      {"TUNE", 4, " ON\rCMEM", "TUNE ON"},
      {"Port_?", 5, "L\nCMEM\n", "Port_L?"},
      {"", 0, "\nCMEM", ""},
      {"", 0, longPaste, longPaste},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pasted.left(40).toStdString());
    sent.clear();
    form->Edit1->setText(c.before);
    form->Edit1->setCursorPosition(c.caret);
    QGuiApplication::clipboard()->setText(c.pasted);
    form->Edit1->paste();
    EXPECT_EQ(form->Edit1->text().size(), c.shown.size());
    EXPECT_TRUE(form->Edit1->text() == c.shown) << form->Edit1->text().left(40).toStdString();
    QTest::keyClick(form->Edit1, Qt::Key_Return);
    ASSERT_EQ(sent.size(), c.shown.isEmpty() ? 0u : 1u);
    if (!c.shown.isEmpty()) {
      EXPECT_TRUE(sent[0] == c.shown.toStdString());
    }
    EXPECT_TRUE(form->Edit1->text().isEmpty());
  }
}

TEST_F(Form2Test, SendQuestionMarks) {
  const Toggles sending = Count([&] { form->Send1->trigger(); });
  EXPECT_EQ(sent, std::vector<std::string>({"???"}));
  EXPECT_EQ(Lines(form->LiveLog()), QStringList({"- ???"}));
  EXPECT_EQ(sending.tx, 1);
}

TEST_F(Form2Test, CommandsWhileThePortIsClosedKeepTheText) {
  portOpen = false;
  form->Edit1->setText("TUNE");
  EXPECT_EQ(ErrorOf([&] { form->Edit1KeyDown(Qt::Key_Return, Qt::NoModifier); }), kNotOpen);
  EXPECT_EQ(ErrorOf([&] { form->Send1Click(); }), kNotOpen);
  EXPECT_EQ(form->Edit1->text(), "TUNE");
  EXPECT_TRUE(Lines(form->LiveLog()).isEmpty());

  // From the controls, the error goes to the program's error display.
  std::vector<std::string> reported;
  SetUserActionErrorReporter([&](const std::string& message) { reported.push_back(message); });
  QTest::keyClick(form->Edit1, Qt::Key_Return);
  form->Send1->trigger();
  SetUserActionErrorReporter(nullptr);
  EXPECT_EQ(reported, (std::vector<std::string>{kNotOpen, kNotOpen}));
  EXPECT_EQ(form->Edit1->text(), "TUNE");
  EXPECT_TRUE(Lines(form->LiveLog()).isEmpty());
}

TEST_F(Form2Test, ShowModalReturnsWhenClosed) {
  bool modalWhileShown = false;
  QTimer::singleShot(0, [&] {
    modalWhileShown = form->isVisible() && form->isModal();
    form->close();
  });
  form->ShowModal();
  EXPECT_TRUE(modalWhileShown);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->isModal());

  form->ShowModeless();
  QTimer watchdog;  // a ShowModal that blocked here would otherwise hang the test
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&] { form->close(); });
  watchdog.start(10000);
  form->ShowModal();
  EXPECT_TRUE(watchdog.isActive());
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->isModal());
}

class Form2SaveTest : public Form2Test {
 protected:
  std::string Saved() { return ReadFile(directory.filePath("PortMonitor.txt")); }

  QTemporaryDir directory;
  ScopedWorkingDirectory cwd{directory.path()};
};

TEST_F(Form2SaveTest, SavingTwiceOverwrites) {
  form->Savealltofile1Click();
  EXPECT_EQ(Saved(), "");
  form->LogLine(ldSent, "TUNE ON");
  Received("SWR: 15");
  Received("L: 12");
  form->Savealltofile1Click();
  EXPECT_EQ(Saved(), "- TUNE ON\r\n+ SWR: 15\r\n+ L: 12\r\n");
  form->Clear1Click();
  Received("C: 7");
  form->Savealltofile1Click();
  EXPECT_EQ(Saved(), "+ C: 7\r\n");
}

TEST_F(Form2SaveTest, SavingWhileFrozenWritesTheLiveLog) {
  Received("before");
  form->CheckBox1->click();
  Received("after");
  std::vector<std::string> reported;
  SetUserActionErrorReporter([&](const std::string& message) { reported.push_back(message); });
  form->Savealltofile1->trigger();
  SetUserActionErrorReporter(nullptr);
  EXPECT_TRUE(reported.empty());
  EXPECT_EQ(Saved(), "+ before\r\n+ after\r\n");
}

TEST_F(Form2SaveTest, EveryByteIsWrittenBackAsItCame) {
  std::string everyByte;
  for (int b = 0; b < 256; ++b) everyByte.push_back(static_cast<char>(b));
  const std::vector<std::string> lines = {"", everyByte, std::string(1, '\0'), "\r\n",
                                          "\x80\x81\x8d\x8f\x90\x9d\xa0\xff"};
  form->show();
  for (const std::string& line : lines) Received(line);
  EXPECT_EQ(Lines(form->LiveLog()).size(), lines.size());
  form->Savealltofile1Click();
  std::string expected;
  for (const std::string& line : lines) expected += "+ " + line + "\r\n";
  EXPECT_EQ(Saved(), expected);
}

TEST_F(Form2SaveTest, AnEntryTheOperatorEditedIsSavedAsEdited) {
  form->show();
  Received("SWR: 1\x01");
  Received("L: 12");
  QTextCursor cursor(form->Memo1->document()->firstBlock());
  cursor.movePosition(QTextCursor::EndOfBlock);
  form->Memo1->setTextCursor(cursor);
  QTest::keyClicks(form->Memo1, "5");
  form->Savealltofile1Click();
  EXPECT_EQ(Saved(),
            "+ SWR: 1\x01"
            "5\r\n+ L: 12\r\n");
}

// What stands in a folder, one entry a line: a file with its content, a link with its target,
// a FIFO, a directory.
std::vector<std::string> Listing(const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  std::vector<std::string> entries;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    switch (entry.symlink_status().type()) {
      case fs::file_type::regular:
        entries.push_back(name + "=" + ReadFile(QString::fromStdString(entry.path().string())));
        break;
      case fs::file_type::symlink:
        entries.push_back(name + "->" + fs::read_symlink(entry.path()).filename().string());
        break;
      case fs::file_type::fifo:
        entries.push_back(name + "|");
        break;
      case fs::file_type::directory:
        entries.push_back(name + "/");
        break;
      default:
        entries.push_back(name + "?");
    }
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// Saving truncates and writes a regular file in place, as far as the user running Orvel may
// write it, and leaves whatever else stands under the name alone. Root passes every permission
// check, so the save runs in a child as an unprivileged user.
TEST(OverwriteFileTest, RegularFileInPlaceAndNothingElse) {
  namespace fs = std::filesystem;
  constexpr uid_t kNobody = 65534;
  const bool root = ::geteuid() == 0;
  QTemporaryDir temporary;
  ASSERT_TRUE(temporary.isValid());
  const fs::path top = temporary.path().toStdString();
  fs::permissions(top, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  const std::string content = "+ SWR: 15\r\n";
  const std::string log = "PortMonitor.txt";
  auto file = [](const fs::path& path, const char* text, fs::perms mode) {
    std::ofstream(path) << text;
    fs::permissions(path, mode);
  };
  const fs::perms rw = fs::perms::owner_read | fs::perms::owner_write;
  const fs::perms r = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  struct Case {
    const char* name;
    std::function<void(const fs::path& dir)> prepare;
    TOverwriteResult result;
    std::vector<std::string> after;
  };
  int reader = -1;
  const Case cases[] = {
      {"new file",
       [](const fs::path&) {},
       TOverwriteResult::Written,
       {"PortMonitor.txt=+ SWR: 15\r\n"}},
      {"existing 600 file",
       [&](const fs::path& dir) { file(dir / log, "an older, longer log", rw); },
       TOverwriteResult::Written,
       {"PortMonitor.txt=+ SWR: 15\r\n"}},
      {"hard-linked file",
       [&](const fs::path& dir) {
         file(dir / log, "old", rw | r);
         fs::create_hard_link(dir / log, dir / "copy.txt");
       },
       TOverwriteResult::Written,
       {"PortMonitor.txt=+ SWR: 15\r\n", "copy.txt=+ SWR: 15\r\n"}},
      {"read-only file",
       [&](const fs::path& dir) { file(dir / log, "old", r); },
       TOverwriteResult::CannotCreate,
       {"PortMonitor.txt=old"}},
      {"read-only folder with a writable file",
       [&](const fs::path& dir) {
         file(dir / log, "old", rw | r);
         fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
       },
       TOverwriteResult::Written,
       {"PortMonitor.txt=+ SWR: 15\r\n"}},
      {"symlink to a file",
       [&](const fs::path& dir) {
         file(dir / "elsewhere.txt", "precious", rw | r);
         fs::create_symlink(dir / "elsewhere.txt", dir / log);
       },
       TOverwriteResult::CannotCreate,
       {"PortMonitor.txt->elsewhere.txt", "elsewhere.txt=precious"}},
      {"dangling symlink",
       [&](const fs::path& dir) { fs::create_symlink(dir / "elsewhere.txt", dir / log); },
       TOverwriteResult::CannotCreate,
       {"PortMonitor.txt->elsewhere.txt"}},
      {"FIFO",
       [&](const fs::path& dir) {
         ASSERT_EQ(::mkfifo((dir / log).c_str(), 0666), 0);
         // With a reader, a save that opened the FIFO would not block but write into it.
         reader = ::open((dir / log).c_str(), O_RDONLY | O_NONBLOCK);
       },
       TOverwriteResult::CannotCreate,
       {"PortMonitor.txt|"}},
      {"directory",
       [&](const fs::path& dir) { fs::create_directory(dir / log); },
       TOverwriteResult::CannotCreate,
       {"PortMonitor.txt/"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = top / c.name;
    fs::create_directory(dir);
    c.prepare(dir);
    const std::string path = (dir / log).string();
    if (root) {
      for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0);
      }
      ASSERT_EQ(::chown(dir.c_str(), kNobody, kNobody), 0);
    }
    struct stat before {};
    const bool existed = ::lstat(path.c_str(), &before) == 0;
    const pid_t child = ::fork();
    if (child == 0) {
      if (root &&
          (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
        _exit(100);
      }
      _exit(static_cast<int>(OverwriteFile(path, content)));
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 100) GTEST_SKIP() << "cannot switch to an unprivileged user";
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(c.result));
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(Listing(dir), c.after);
    struct stat after {};
    ASSERT_EQ(::lstat(path.c_str(), &after), 0);
    if (existed) {
      EXPECT_EQ(after.st_ino, before.st_ino);
      EXPECT_EQ(after.st_mode, before.st_mode);
      EXPECT_EQ(after.st_uid, before.st_uid);
      EXPECT_EQ(after.st_nlink, before.st_nlink);
    }
    if (reader >= 0) {
      char byte;
      EXPECT_LE(::read(reader, &byte, 1), 0) << "nothing went into the FIFO";
      ::close(reader);
      reader = -1;
    }
  }
}

TEST_F(Form2SaveTest, AFileThatCannotBeWrittenIsReported) {
  struct Case {
    const char* name;
    std::function<QString()> prepare;  // returns the working directory to save in
    std::string error;
  };
  const Case cases[] = {
      {"read-only directory", [] { return QString("/proc"); },
       "Cannot create file PortMonitor.txt"},
      {"a directory in the way",
       [&] {
         QDir(directory.path()).mkdir("PortMonitor.txt");
         return directory.path();
       },
       "Cannot create file PortMonitor.txt"},
      {"file size limit",
       [&] {
         QDir(directory.path()).rmdir("PortMonitor.txt");
         return directory.path();
       },
       "Cannot write file PortMonitor.txt"},
  };
  Received("SWR: 15");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScopedWorkingDirectory there(c.prepare());
    // The size limit stands in for a full disk: a write beyond it fails with EFBIG.
    const bool limited = std::string(c.name) == "file size limit";
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (limited) {
      rlimit tiny = previous;
      tiny.rlim_cur = 4;
      ::setrlimit(RLIMIT_FSIZE, &tiny);
    }
    const std::string error = ErrorOf([&] { form->Savealltofile1Click(); });
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(Lines(form->LiveLog()), QStringList({"+ SWR: 15"}));
  }
}

}  // namespace
