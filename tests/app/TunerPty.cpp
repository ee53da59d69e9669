// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Pseudo-terminal tuner end for tests.
#include "tests/app/TunerPty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <filesystem>

TTunerPty::TTunerPty() = default;

TTunerPty::~TTunerPty() = default;

void TTunerPty::LinkAs(const std::string& directory, const std::string& name) {
  std::filesystem::create_directories(directory);
  std::filesystem::create_symlink(pty_.SlavePath(), std::filesystem::path(directory) / name);
}

void TTunerPty::Write(const std::string& bytes) {
  pty_.Write(bytes);
}

void TTunerPty::ReadSome(int timeoutMs) {
  received_ += pty_.Read(std::chrono::milliseconds(timeoutMs));
}

bool TTunerPty::WaitFor(const std::string& expected, int timeoutMs) {
  // qWaitFor runs the window's events, which the receive thread hands its events over to.
  return QTest::qWaitFor(
      [&] {
        ReadSome(5);
        return received_.find(expected) != std::string::npos;
      },
      timeoutMs);
}

std::string TTunerPty::Drain(int timeoutMs) {
  const std::size_t before = received_.size();
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ReadSome(5);
  }
  return received_.substr(before);
}

void TTunerPty::Hangup() {
  pty_.Close();
}
