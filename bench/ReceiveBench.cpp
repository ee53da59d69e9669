// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Lines per second through the main window's receive handler into a shown port monitor at its
// design size (events run between lines, repaints and the log's cap included), against plain
// appends to a bare plain-text editor of the same size with the same event processing.
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <cstdio>
#include <string>
#include <vector>

#include "Form1.h"
#include "Form2.h"

namespace {

constexpr int kLines = 20000;

std::vector<std::string> StatusLines() {
  const char* lines[] = {
      "SWR: 15",    "Port L: 00010110", "Port C: 01100101", "FWD: 350",        "K: 1",
      "YELLOW: ON", "SWR: 13",          "END_SWR: 12",      "END_L: 00010110", "GREEN: ON"};
  std::vector<std::string> all;
  for (int i = 0; i < kLines; ++i) all.push_back(lines[i % 10]);
  return all;
}

double ThroughProgram(const std::vector<std::string>& lines) {
  QTemporaryDir settings;
  TForm1 form1(settings.path());
  TForm2 form2;
  form1.AttachPortMonitor(&form2);
  form1.show();
  form2.ShowModeless();
  form1.SerialPortReceive(nullptr, "ATU_KORAX\r\n");  // identified; the reply cannot be written
  QApplication::processEvents();

  QElapsedTimer clock;
  clock.start();
  for (const std::string& line : lines) form1.SerialPortReceive(nullptr, line + "\r\n");
  QApplication::processEvents();
  return static_cast<double>(lines.size()) / (static_cast<double>(clock.nsecsElapsed()) / 1e9);
}

double Baseline(const std::vector<std::string>& lines) {
  QTemporaryDir settings;
  TForm1 form1(settings.path());
  TForm2 form2;
  form2.ShowModeless();
  QPlainTextEdit editor;
  editor.setFont(form2.Memo1->font());
  editor.setLineWrapMode(QPlainTextEdit::WidgetWidth);
  editor.resize(form2.Memo1->size());
  editor.move(form2.pos());
  form2.hide();
  editor.show();
  QApplication::processEvents();

  QElapsedTimer clock;
  clock.start();
  int count = 0;
  for (const std::string& line : lines) {
    // The same cap: one clear per 1001 lines.
    if (++count > 1000) {
      editor.clear();
      count = 1;
    }
    editor.appendPlainText(QString::fromLatin1(("+ " + line).c_str()));
    QApplication::processEvents();
  }
  return static_cast<double>(lines.size()) / (static_cast<double>(clock.nsecsElapsed()) / 1e9);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir ports;
  qputenv("ORVEL_PORTS_DIR", ports.path().toLocal8Bit());
  const std::vector<std::string> lines = StatusLines();
  const double baseline = Baseline(lines);
  const double program = ThroughProgram(lines);
  std::printf("receive handler into the port monitor: %.0f lines/s\n", program);
  std::printf("baseline, bare editor appends:         %.0f lines/s\n", baseline);
  std::printf("baseline / program: %.2fx (target at most 1.5x)\n", baseline / program);
  std::printf("against a saturated 9600-baud link (80 lines/s): %.0fx (target at least 25x)\n",
              program / 80.0);
  return 0;
}
