// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The program's error display: a modal box for an error that escaped an operator's action,
// and the modal message boxes of the main window.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <string>

// A modal box with an OK button. The text is shown as it is, never as markup: it may hold a
// port name or what the system said.
void ShowMessage(QMessageBox::Icon icon, const QString& title, const QString& text,
                 QWidget* parent);

// The message as the box shows it: a full stop is added unless the message ends in one.
QString ErrorText(const std::string& message);

// Routes every escaping exception (controls/UserAction.h) to the error box.
void InstallErrorDisplay();

// The application object: every event's delivery is guarded too, so that an exception that a
// handler failed to keep to itself is shown and never unwinds further into Qt's event loop.
class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
