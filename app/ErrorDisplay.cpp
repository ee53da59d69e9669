// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Error box and guarded event delivery.
#include "app/ErrorDisplay.h"

#include <QMessageBox>

#include "controls/UserAction.h"
#include "text/Cp1252.h"

QString ErrorText(const std::string& message) {
  QString text = FromCp1252(message);
  if (!text.endsWith('.')) text += '.';
  return text;
}

void ShowMessage(QMessageBox::Icon icon, const QString& title, const QString& text,
                 QWidget* parent) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void InstallErrorDisplay() {
  SetUserActionErrorReporter([](const std::string& message) {
    ShowMessage(QMessageBox::Critical, QApplication::applicationName(), ErrorText(message),
                QApplication::activeWindow());
  });
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  bool result = false;
  RunUserAction([&] { result = QApplication::notify(receiver, event); });
  return result;
}
