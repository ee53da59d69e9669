// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Error box and guarded event delivery.
#include "ErrorDisplay.h"

#include <QMessageBox>

#include "Cp1252.h"
#include "UserAction.h"

QString ErrorText(const std::string& message) {
  QString text = FromCp1252(message);
  if (!text.endsWith('.')) text += '.';
  return text;
}

void InstallErrorDisplay() {
  SetUserActionErrorReporter([](const std::string& message) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(),
                    ErrorText(message), QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
  });
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  bool result = false;
  RunUserAction([&] { result = QApplication::notify(receiver, event); });
  return result;
}
