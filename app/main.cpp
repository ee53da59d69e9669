// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Program start: the application, the main window, the port monitor, the event loop.
#include <QCommandLineParser>
#include <QMouseEvent>
#include <QStyleFactory>
#include <QTimer>
#include <cstdio>

#include "ColorButton.h"
#include "Cp1252.h"
#include "ErrorDisplay.h"
#include "Form1.h"
#include "Form2.h"
#include "QuitOnSignal.h"

namespace {

// A click on Open Port, as the operator's mouse makes it (press and release over the button).
void ClickOpenPort(TForm1& form) {
  const QPointF centre = QRectF(form.openport->rect()).center();
  const QPointF global = form.openport->mapToGlobal(centre);
  QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(form.openport, &press);
  QCoreApplication::sendEvent(form.openport, &release);
}

}  // namespace

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  QApplication::setApplicationName("Orvel");
  QApplication::setApplicationDisplayName("Orvel");
  QApplication::setApplicationVersion("1.2");
  QApplication::setStyle(QStyleFactory::create("Fusion"));

  QCommandLineParser parser;
  parser.setApplicationDescription("Remote control for the 1.2 kW automatic antenna tuner.");
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption portOption(
      "port",
      "Preselect this port (a listed name, a device path or a network address "
      "such as rfc2217://HOST:PORT) "
      "instead of the settings file's.",
      "NAME");
  const QCommandLineOption connectOption("connect",
                                         "Open the preselected port once the window is shown.");
  parser.addOption(portOption);
  parser.addOption(connectOption);
  parser.process(app);

  InstallErrorDisplay();
  TQuitOnSignal quitOnSignal;

  TForm1 form1(QCoreApplication::applicationDirPath());
  TForm2 form2;
  form1.AttachPortMonitor(&form2);

  if (parser.isSet(portOption)) {
    const QString port = parser.value(portOption);
    if (!form1.SelectPort(ToCp1252(port))) {
      std::fprintf(stderr, "orvel: port %s is not in the port list\n", qPrintable(port));
    }
  }
  form1.show();
  if (parser.isSet(connectOption)) {
    QTimer::singleShot(0, &form1, [&form1] { ClickOpenPort(form1); });
  }

  const int status = QApplication::exec();
  // The port monitor goes first: nothing may be logged into it once it is gone.
  form1.SerialPort->Close();
  form1.AttachPortMonitor(nullptr);
  return status;
}
