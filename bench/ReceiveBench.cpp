// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// CPU cost of received status lines through the main window's receive handler, the line
// protocol, the port monitor's log and the lamps: per line with the monitor hidden, against a
// bare editor with the monitor shown, and the memory that a long flood leaves behind.
// Usage: bench_receive [lines] [hidden|shown|memory|all] (default 20000 lines, all figures;
// the memory figure uses ten times as many lines).
#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "app/Form1.h"
#include "monitor/Form2.h"

namespace {

std::vector<std::string> StatusLines(int count) {
  const char* lines[] = {"SWR: 15",  "Port L: 00010110", "Port C: 01100101", "FWD: 350",
                         "K: 1",     "YELLOW: ON",       "SWR: 13",          "END_SWR: 12",
                         "RED: OFF", "GREEN: ON"};
  std::vector<std::string> all;
  all.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) all.push_back(std::string(lines[i % 10]) + "\r\n");
  return all;
}

// The user-interface thread's CPU time; the receive handler runs there alone.
double ThreadCpuMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Proportional set size of this process in kB.
long PssKilobytes() {
  std::ifstream rollup("/proc/self/smaps_rollup");
  std::string key;
  long value = 0;
  while (rollup >> key) {
    if (key == "Pss:") {
      rollup >> value;
      return value;
    }
    rollup.ignore(256, '\n');
  }
  return -1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1,
                         static_cast<std::size_t>(fraction * double(values.size())))];
}

// The program's two windows, identified by the tuner, the main window shown.
struct TProgram {
  explicit TProgram(bool monitorShown) : form1(settings.path()) {
    form1.AttachPortMonitor(&form2);
    form1.show();
    if (monitorShown) form2.ShowModeless();
    (void)QTest::qWaitForWindowExposed(&form1);
    form1.SerialPortReceive(nullptr, "ATU_KORAX\r\n");  // the reply cannot be written: no port
    QApplication::processEvents();
  }
  QTemporaryDir settings;
  TForm1 form1;
  TForm2 form2;
};

void HiddenMonitorPerLine(const std::vector<std::string>& lines) {
  TProgram program(false);
  std::vector<double> costs;
  costs.reserve(lines.size());
  for (const std::string& line : lines) {
    const double start = ThreadCpuMicroseconds();
    program.form1.SerialPortReceive(nullptr, line);
    costs.push_back(ThreadCpuMicroseconds() - start);
  }
  double total = 0;
  for (double cost : costs) total += cost;
  std::printf(
      "per line, port monitor hidden (%zu lines): median %.1f us CPU, mean %.1f us, "
      "99th percentile %.1f us (target: median at most 15 us)\n",
      lines.size(), Median(costs), total / double(costs.size()), Percentile(costs, 0.99));
}

double ShownMonitorCpu(const std::vector<std::string>& lines) {
  TProgram program(true);
  const double start = ThreadCpuMicroseconds();
  for (const std::string& line : lines) program.form1.SerialPortReceive(nullptr, line);
  QApplication::processEvents();
  return ThreadCpuMicroseconds() - start;
}

// The same appends to a bare editor of the log's size and font, with the same cap (one clear
// per 1001 lines) and the same event processing after every line.
double BareEditorCpu(const std::vector<std::string>& lines) {
  TProgram program(false);
  QPlainTextEdit editor;
  editor.setFont(program.form2.Memo1->font());
  editor.setLineWrapMode(QPlainTextEdit::WidgetWidth);
  editor.resize(program.form2.Memo1->size());
  editor.show();
  (void)QTest::qWaitForWindowExposed(&editor);
  QApplication::processEvents();
  const double start = ThreadCpuMicroseconds();
  int count = 0;
  for (const std::string& line : lines) {
    if (++count > 1000) {
      editor.clear();
      count = 1;
    }
    editor.appendPlainText(QString::fromLatin1("+ " + line.substr(0, line.size() - 2)));
    QApplication::processEvents();
  }
  return ThreadCpuMicroseconds() - start;
}

void ShownMonitorAgainstBareEditor(const std::vector<std::string>& lines) {
  // Best of three rounds each, alternating, so that neither side pays for a busy moment alone.
  double program = 1e300;
  double bare = 1e300;
  for (int round = 0; round < 3; ++round) {
    bare = std::min(bare, BareEditorCpu(lines));
    program = std::min(program, ShownMonitorCpu(lines));
  }
  const double count = static_cast<double>(lines.size());
  std::printf(
      "port monitor shown: %.1f us CPU a line; bare editor %.1f us; ratio %.2f "
      "(target at most 1.5)\n",
      program / count, bare / count, program / bare);
}

void MemoryAfterFlood(const std::vector<std::string>& lines, int rounds, bool monitorShown) {
  TProgram program(monitorShown);
  // A first flood fills the caches and the log up to its cap, as any session does at once.
  for (const std::string& line : lines) program.form1.SerialPortReceive(nullptr, line);
  QApplication::processEvents();
  const long before = PssKilobytes();
  for (int round = 0; round < rounds; ++round) {
    for (const std::string& line : lines) program.form1.SerialPortReceive(nullptr, line);
  }
  QApplication::processEvents();
  const long after = PssKilobytes();
  std::printf(
      "memory after %zu more lines, port monitor %s: %+.2f MB proportional set size "
      "(%.1f MB before; target at most +2 MB)\n",
      lines.size() * static_cast<std::size_t>(rounds), monitorShown ? "shown" : "hidden",
      double(after - before) / 1024.0, double(before) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir ports;
  qputenv("ORVEL_PORTS_DIR", ports.path().toLocal8Bit());
  const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 20000;
  const char* mode = argc > 2 ? argv[2] : "all";
  const bool all = std::strcmp(mode, "all") == 0;
  const std::vector<std::string> lines = StatusLines(count);
  if (all || std::strcmp(mode, "hidden") == 0) HiddenMonitorPerLine(lines);
  if (all || std::strcmp(mode, "shown") == 0) ShownMonitorAgainstBareEditor(lines);
  if (all || std::strcmp(mode, "memory") == 0) {
    MemoryAfterFlood(lines, 10, true);
    MemoryAfterFlood(lines, 10, false);
  }
  return 0;
}
