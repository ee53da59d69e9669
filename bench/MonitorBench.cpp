// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Lines per second appended to a shown port monitor at its design size, with the pending
// events (repaints included) run after every line and the row cap's clears, against the same
// number of plain appends to a bare plain-text editor of the same size and font.
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "controls/LedLamp.h"
#include "monitor/Form2.h"

namespace {

// What a tuner sends while tuning, with a command now and then.
std::vector<std::string> Traffic(int count) {
  const char* const pattern[] = {"+ SWR: 15",  "+ L: 1234", "+ C: 567",  "+ FWD: 712",
                                 "+ LED: 101", "+ SWR: 12", "- TUNE ON", "+ TUNE OFF"};
  std::vector<std::string> lines;
  lines.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) lines.emplace_back(pattern[i % 8]);
  return lines;
}

// With lamps, the two activity lamps sit in a shown stand-in for the main window, so their
// redraws are paid for as in the program.
double MonitorRate(const std::vector<std::string>& lines, bool withLamps) {
  QWidget mainWindow;
  auto* rxLED = new TLedLamp(&mainWindow);
  auto* txled = new TLedLamp(&mainWindow);
  txled->move(0, 20);
  txled->SetBlink(false);  // as on the main window: only the receive lamp blinks
  mainWindow.resize(60, 60);
  mainWindow.show();
  TForm2 form;
  if (withLamps) form.SetActivityLamps(txled, rxLED);
  form.show();
  (void)QTest::qWaitForWindowExposed(&form);
  QCoreApplication::processEvents();

  QElapsedTimer clock;
  clock.start();
  for (const std::string& line : lines) {
    form.LogLine(line.starts_with('-') ? ldSent : ldReceived, std::string_view(line).substr(2));
    QCoreApplication::processEvents();
  }
  return static_cast<double>(lines.size()) / (static_cast<double>(clock.nsecsElapsed()) / 1e9);
}

double BaselineRate(const std::vector<std::string>& lines) {
  QPlainTextEdit edit;
  QFont font("Courier New");
  font.setPixelSize(13);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  edit.setFont(font);
  edit.setLineWrapMode(QPlainTextEdit::WidgetWidth);
  edit.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  edit.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  edit.resize(290, 192);
  edit.show();
  (void)QTest::qWaitForWindowExposed(&edit);
  QCoreApplication::processEvents();

  QElapsedTimer clock;
  clock.start();
  for (const std::string& line : lines) {
    edit.appendPlainText(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
    QCoreApplication::processEvents();
  }
  return static_cast<double>(lines.size()) / (static_cast<double>(clock.nsecsElapsed()) / 1e9);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
  const std::vector<std::string> lines = Traffic(count);

  // Best of three rounds each, alternating, so that neither side pays for a busy moment alone.
  double baseline = 0;
  double withLamps = 0;
  double alone = 0;
  for (int round = 0; round < 3; ++round) {
    baseline = std::max(baseline, BaselineRate(lines));
    withLamps = std::max(withLamps, MonitorRate(lines, true));
    alone = std::max(alone, MonitorRate(lines, false));
  }
  std::printf("lines appended per run:                 %d\n", count);
  std::printf("bare QPlainTextEdit (baseline):         %.0f lines/s\n", baseline);
  std::printf("port monitor, lamps toggled and shown:  %.0f lines/s (baseline / this: %.2f)\n",
              withLamps, baseline / withLamps);
  std::printf("port monitor alone, no lamps:           %.0f lines/s (baseline / this: %.2f)\n",
              alone, baseline / alone);
  std::printf("target: baseline / port monitor at most 1.5\n");
  return 0;
}
