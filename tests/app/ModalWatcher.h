// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Answers the modal boxes that a handler opens, recording their titles and texts.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <string>
#include <vector>

class TModalWatcher {
 public:
  struct Box {
    std::string Title;
    std::string Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    Qt::TextFormat Format = Qt::AutoText;
  };

  // Each box is closed (its escape answer), or answered with `answer` where it offers that.
  explicit TModalWatcher(QMessageBox::StandardButton answer = QMessageBox::NoButton) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this, answer] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) return;
      Box box;
      box.Title = modal->windowTitle().toStdString();
      if (auto* message = qobject_cast<QMessageBox*>(modal)) {
        box.Text = message->text().toStdString();
        box.Icon = message->icon();
        box.Format = message->textFormat();
      }
      boxes_.push_back(box);
      auto* message = qobject_cast<QMessageBox*>(modal);
      if (QAbstractButton* button = message ? message->button(answer) : nullptr) {
        button->click();
      } else {
        modal->close();
      }
    });
    timer_.start();
  }

  const std::vector<Box>& Boxes() const { return boxes_; }

 private:
  QTimer timer_;
  std::vector<Box> boxes_;
};
