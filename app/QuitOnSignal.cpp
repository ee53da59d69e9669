// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Signals reach the event loop through a socket pair: a signal handler may only write a byte.
#include "app/QuitOnSignal.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

#include "serial/SerialPort.h"

namespace {

int gSignalSockets[2] = {-1, -1};

void OnSignal(int) {
  // The interrupted code may be about to read errno.
  const int savedErrno = errno;
  // A write waiting on a peer that reads nothing would hold the event loop off for seconds.
  TSerialPort::AbortWrites();
  const char byte = 1;
  // Nothing can be done about a full socket: one byte already waiting is enough.
  [[maybe_unused]] const ssize_t written = ::write(gSignalSockets[0], &byte, 1);
  errno = savedErrno;
}

}  // namespace

TQuitOnSignal::TQuitOnSignal(QObject* parent) : QObject(parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gSignalSockets) != 0) {
    return;  // the program still runs; a signal then ends it the default way
  }
  notifier_ = new QSocketNotifier(gSignalSockets[1], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [] {
    char byte;
    while (::read(gSignalSockets[1], &byte, 1) > 0) {
    }
    QCoreApplication::quit();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

TQuitOnSignal::~TQuitOnSignal() {
  if (notifier_ == nullptr) return;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
  ::close(gSignalSockets[0]);
  ::close(gSignalSockets[1]);
  gSignalSockets[0] = gSignalSockets[1] = -1;
}
