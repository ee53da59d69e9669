// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Synchronous delivery of the receive thread's events on the user-interface thread.
#include "app/QtUiHandOver.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <exception>

TQtUiHandOver::TQtUiHandOver(QObject* context) : context_(context) {}

bool TQtUiHandOver::InUiThread() const {
  return QThread::currentThread() == context_->thread();
}

void TQtUiHandOver::Synchronize(const std::function<void()>& call) {
  if (InUiThread()) {
    call();
    return;
  }
  // A blocking queued call is a posted event, so it is also served by the nested event
  // processing of Close and of the receive handler. The exception is caught on the user-
  // interface thread, so that it never unwinds through Qt's event dispatch, and rethrown here.
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      context_,
      [&] {
        try {
          call();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (error) std::rethrow_exception(error);
}

void TQtUiHandOver::ProcessPendingEvents() {
  QCoreApplication::processEvents();
}
