// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The port monitor: lamp toggles, row cap, freeze, command line, help, reveal words, saving.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Form2.h"
#include "LedLamp.h"
#include "UserAction.h"

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

class Form2Test : public ::testing::Test {
 protected:
  Form2Test() {
    txled->SetBlink(false);  // as on the main window
    Label6->hide();
    Label7->setText("12");
    Label7->hide();
    TForm2Links links;
    links.SendString = [this](const std::string& text) {
      if (!portOpen) throw std::runtime_error(kNotOpen);
      sent.push_back(text);
    };
    links.rxLED = rxLED;
    links.txled = txled;
    links.Label6 = Label6;
    links.Label7 = Label7;
    form = std::make_unique<TForm2>(links);
  }

  // The number of times each lamp changed while the lines were logged: the lamps are sampled
  // before each change of the field and once at the end, and every logged line must flip
  // exactly one of them.
  struct Toggles {
    int rx = 0;
    int tx = 0;
  };
  Toggles Count(QPlainTextEdit* memo, const std::function<void()>& action) {
    std::vector<std::pair<bool, bool>> samples;
    auto sample = [&] { samples.emplace_back(rxLED->Value(), txled->Value()); };
    auto connection = QObject::connect(memo->document(), &QTextDocument::contentsChanged, sample);
    sample();
    action();
    QObject::disconnect(connection);
    sample();
    Toggles toggles;
    for (std::size_t i = 1; i < samples.size(); ++i) {
      toggles.rx += samples[i].first != samples[i - 1].first;
      toggles.tx += samples[i].second != samples[i - 1].second;
    }
    return toggles;
  }

  // Characters in one row of the log at its current width.
  int RowWidth() {
    form->AppendLog(std::string(500, 'x'));
    const QTextBlock block = form->Memo1->document()->lastBlock();
    const int width = block.layout()->lineAt(0).textLength();
    form->Clear1Click();
    return width;
  }

  void Type(const QString& text) {
    form->Edit1->setText(text);
    form->Edit1KeyDown(Qt::Key_Return, Qt::NoModifier);
  }

  QWidget mainWindow;
  TLedLamp* rxLED = new TLedLamp(&mainWindow);
  TLedLamp* txled = new TLedLamp(&mainWindow);
  QLabel* Label6 = new QLabel("FWD:", &mainWindow);
  QLabel* Label7 = new QLabel(&mainWindow);
  bool portOpen = true;
  std::vector<std::string> sent;
  std::unique_ptr<TForm2> form;
};

TEST_F(Form2Test, EachLineTogglesTheLampOfItsDirection) {
  struct Case {
    std::string line;
    bool sentLine;
  };
  const Case cases[] = {
      {"- TUNE ON", true}, {"+ SWR: 15", false}, {"", false},    {"????", false},
      {"-", true},         {" - x", false},      {"+ -", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    for (int repeat = 0; repeat < 2; ++repeat) {
      const Toggles toggles = Count(form->Memo1, [&] { form->AppendLog(c.line); });
      EXPECT_EQ(toggles.tx, c.sentLine ? 1 : 0);
      EXPECT_EQ(toggles.rx, c.sentLine ? 0 : 1);
    }
  }
  EXPECT_FALSE(rxLED->Value());
  EXPECT_FALSE(txled->Value());
}

TEST_F(Form2Test, TheNewestRowOfAWrappedEntryDecides) {
  form->show();
  const int row = RowWidth();
  ASSERT_GT(row, 10);
  struct Case {
    std::string line;
    int rows;
    bool sentLamp;
  };
  const Case cases[] = {
      {"+ " + std::string(row - 2, 'x') + " -yyy", 2, true},
      {"- " + std::string(2 * row, 'x'), 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    form->Clear1Click();
    const Toggles toggles = Count(form->Memo1, [&] { form->AppendLog(c.line); });
    EXPECT_EQ(form->LiveRows(), c.rows);
    EXPECT_EQ(toggles.tx, c.sentLamp ? 1 : 0);
    EXPECT_EQ(toggles.rx, c.sentLamp ? 0 : 1);
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
      form->AppendLog(std::string(c.wrappedRows * row, 'x'));
      ASSERT_EQ(form->LiveRows(), c.wrappedRows);
    }
    for (int i = 1; i < c.shortLines; ++i) form->AppendLog("+ SWR: " + std::to_string(i));
    ASSERT_EQ(Lines(form->Memo1).size(), c.shortLines - 1 + (c.wrappedRows > 0 ? 1 : 0));
    const bool rxBefore = rxLED->Value();
    form->AppendLog("+ last");
    EXPECT_NE(rxLED->Value(), rxBefore);  // the line lost to the cap still toggled its lamp
    if (c.emptied) {
      EXPECT_TRUE(Lines(form->Memo1).isEmpty());
      EXPECT_EQ(form->LiveRows(), 0);
    } else {
      EXPECT_EQ(form->LiveRows(), 1000);
      EXPECT_EQ(Lines(form->Memo1).last(), "+ last");
    }
    form->Clear1Click();
  }
}

TEST_F(Form2Test, RowsAreCountedAtTheFieldsCurrentWidth) {
  form->show();
  EXPECT_EQ(form->Memo1->geometry(), QRect(0, 0, 290, 192));
  EXPECT_EQ(form->Panel1->geometry(), QRect(0, 192, 290, 71));
  const int row = RowWidth();
  form->AppendLog(std::string(3 * row, 'x'));
  ASSERT_EQ(form->LiveRows(), 3);
  form->resize(290 + 3 * 8 * row, 400);
  EXPECT_EQ(form->Memo1->geometry(), QRect(0, 0, 290 + 3 * 8 * row, 329));
  EXPECT_EQ(form->LiveRows(), 1);
}

TEST_F(Form2Test, AnAppendScrollsTheLiveLogToItsNewestLine) {
  form->show();
  for (int i = 0; i < 200; ++i) form->AppendLog("+ SWR: " + std::to_string(i));
  QCoreApplication::processEvents();
  const QScrollBar* bar = form->Memo1->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_TRUE(form->Memo1->textCursor().atEnd());
}

TEST_F(Form2Test, FreezeReceiveClearFollow) {
  form->show();
  for (const char* line : {"+ SWR: 15", "- TUNE ON", "+ L: 12"}) form->AppendLog(line);
  const Toggles freezing = Count(form->Memo2, [&] { form->CheckBox1->click(); });
  EXPECT_FALSE(form->CheckBox1->isChecked());
  EXPECT_EQ(freezing.rx, 3);  // the live log's newest line decides, once per copied line
  EXPECT_EQ(freezing.tx, 0);
  EXPECT_TRUE(form->Memo2->isVisible());
  EXPECT_FALSE(form->Memo1->isVisible());
  EXPECT_EQ(Lines(form->Memo2), QStringList({"+ SWR: 15", "- TUNE ON", "+ L: 12"}));
  EXPECT_TRUE(form->Memo2->textCursor().atEnd());
  EXPECT_FALSE(form->Memo2->textCursor().hasSelection());

  form->AppendLog("+ C: 7");
  EXPECT_EQ(Lines(form->Memo1).size(), 4);
  EXPECT_EQ(Lines(form->Memo2).size(), 3);

  form->CheckBox1->click();
  EXPECT_TRUE(form->Memo1->isVisible());
  EXPECT_FALSE(form->Memo2->isVisible());
  EXPECT_EQ(Lines(form->Memo2).size(), 3);  // kept until the next freeze or clear

  form->CheckBox1->click();
  const Toggles clearing = Count(form->Memo1, [&] { form->Button2->click(); });
  EXPECT_EQ(clearing.rx + clearing.tx, 0);
  EXPECT_TRUE(Lines(form->Memo1).isEmpty());
  EXPECT_TRUE(Lines(form->Memo2).isEmpty());
  EXPECT_TRUE(form->Memo2->isVisible());
  EXPECT_FALSE(form->CheckBox1->isChecked());
}

TEST_F(Form2Test, TypingIntoTheLogRunsTheChangeRule) {
  form->show();
  form->AppendLog("- SWRmin 15");
  const Toggles typing = Count(form->Memo1, [&] { QTest::keyClicks(form->Memo1, "0"); });
  EXPECT_EQ(typing.tx, 1);
  EXPECT_EQ(typing.rx, 0);
  EXPECT_EQ(Lines(form->Memo1), QStringList({"- SWRmin 150"}));
}

TEST_F(Form2Test, HelpListsTwelveLinesAndSendsNothing) {
  form->show();
  const Toggles help = Count(form->Memo1, [&] {
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
  EXPECT_EQ(Lines(form->Memo1), expected);
}

TEST_F(Form2Test, RevealWordsShowTheForwardPower) {
  for (const char* word : {"vorpalitis", "KVL_tonic"}) {
    SCOPED_TRACE(word);
    Label7->setText("120");
    Type(word);
    EXPECT_TRUE(Label6->isVisibleTo(&mainWindow));
    EXPECT_TRUE(Label7->isVisibleTo(&mainWindow));
    EXPECT_TRUE(Label7->text().isEmpty());
    EXPECT_TRUE(form->Edit1->text().isEmpty());
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(Lines(form->Memo1).isEmpty());
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
    EXPECT_EQ(sent, std::vector<std::string>({bytes + "\r\n"}));
    EXPECT_EQ(Lines(form->Memo1).last(), "- " + text);
    EXPECT_TRUE(form->Edit1->text().isEmpty());
  }
  EXPECT_FALSE(Label6->isVisibleTo(&mainWindow));
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
  EXPECT_TRUE(Lines(form->Memo1).isEmpty());
}

TEST_F(Form2Test, SendQuestionMarks) {
  const Toggles sending = Count(form->Memo1, [&] { form->Send1->trigger(); });
  EXPECT_EQ(sent, std::vector<std::string>({"???\r\n"}));
  EXPECT_EQ(Lines(form->Memo1), QStringList({"- ???"}));
  EXPECT_EQ(sending.tx, 1);
}

TEST_F(Form2Test, CommandsWhileThePortIsClosedKeepTheText) {
  portOpen = false;
  form->Edit1->setText("TUNE");
  EXPECT_EQ(ErrorOf([&] { form->Edit1KeyDown(Qt::Key_Return, Qt::NoModifier); }), kNotOpen);
  EXPECT_EQ(ErrorOf([&] { form->Send1Click(); }), kNotOpen);
  EXPECT_EQ(form->Edit1->text(), "TUNE");
  EXPECT_TRUE(Lines(form->Memo1).isEmpty());

  // From the controls, the error goes to the program's error display.
  std::vector<std::string> reported;
  SetUserActionErrorReporter([&](const std::string& message) { reported.push_back(message); });
  QTest::keyClick(form->Edit1, Qt::Key_Return);
  form->Send1->trigger();
  SetUserActionErrorReporter(nullptr);
  EXPECT_EQ(reported, (std::vector<std::string>{kNotOpen, kNotOpen}));
  EXPECT_EQ(form->Edit1->text(), "TUNE");
  EXPECT_TRUE(Lines(form->Memo1).isEmpty());
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
  for (const char* line : {"- TUNE ON", "+ SWR: 15", "+ L: 12"}) form->AppendLog(line);
  form->Savealltofile1Click();
  EXPECT_EQ(Saved(), "- TUNE ON\r\n+ SWR: 15\r\n+ L: 12\r\n");
  form->Clear1Click();
  form->AppendLog("+ C: 7");
  form->Savealltofile1Click();
  EXPECT_EQ(Saved(), "+ C: 7\r\n");
}

TEST_F(Form2SaveTest, SavingWhileFrozenWritesTheLiveLog) {
  form->AppendLog("+ before");
  form->CheckBox1->click();
  form->AppendLog("+ after");
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
  // The first entry is empty, so the second one must open a line of its own.
  const std::vector<std::string> lines = {
      "", "+ " + everyByte, "", std::string(1, '\0'), "\r\n", "+ \x80\x81\x8d\x8f\x90\x9d\xa0\xff"};
  form->show();
  for (const std::string& line : lines) form->AppendLog(line);
  EXPECT_EQ(Lines(form->Memo1).size(), lines.size());
  form->Savealltofile1Click();
  std::string expected;
  for (const std::string& line : lines) expected += line + "\r\n";
  EXPECT_EQ(Saved(), expected);
}

TEST_F(Form2SaveTest, AnEntryTheOperatorEditedIsSavedAsEdited) {
  form->show();
  form->AppendLog("+ SWR: 1\x01");
  form->AppendLog("+ L: 12");
  QTextCursor cursor(form->Memo1->document()->firstBlock());
  cursor.movePosition(QTextCursor::EndOfBlock);
  form->Memo1->setTextCursor(cursor);
  QTest::keyClicks(form->Memo1, "5");
  form->Savealltofile1Click();
  EXPECT_EQ(Saved(),
            "+ SWR: 1\x01"
            "5\r\n+ L: 12\r\n");
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
      {"full device",
       [&] {
         QDir(directory.path()).rmdir("PortMonitor.txt");
         QFile::link("/dev/full", directory.filePath("PortMonitor.txt"));
         return directory.path();
       },
       "Cannot write file PortMonitor.txt"},
  };
  form->AppendLog("+ SWR: 15");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScopedWorkingDirectory there(c.prepare());
    EXPECT_EQ(ErrorOf([&] { form->Savealltofile1Click(); }), c.error);
    EXPECT_EQ(Lines(form->Memo1), QStringList({"+ SWR: 15"}));
  }
}

}  // namespace
