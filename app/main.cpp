// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Program start: the command line, the application, the main window, the port monitor, the
// event loop.
#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleFactory>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ErrorDisplay.h"
#include "app/Form1.h"
#include "app/QuitOnSignal.h"
#include "app/StationCommands.h"
#include "app/StationDirectory.h"
#include "app/StationMessages.h"
#include "controls/ColorButton.h"
#include "controls/UserAction.h"
#include "monitor/Form2.h"
#include "serial/NetworkPorts.h"
#include "station/NetworkAddress.h"
#include "station/OperatorIdentity.h"
#include "station/StationModule.h"
#include "station/StationPins.h"
#include "station/StationPorts.h"
#include "text/Cp1252.h"

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

// The operator's certificate on standard output, made first when there is none; no display needed,
// so that it can be piped to a station over ssh.
int PrintOperatorCertificate(const std::string& commonName) {
  std::string reason;
  TStationModule* stations = StationModule(reason);
  const std::optional<TOperatorIdentity> identity =
      stations ? stations->EnsureOperatorIdentity(commonName, reason) : std::nullopt;
  if (!identity) {
    std::fprintf(stderr, "orvel: %s\n", reason.c_str());
    return 1;
  }
  std::ifstream file(identity->CertFile);
  std::ostringstream text;
  text << file.rdbuf();
  if (!file || text.str().empty()) {
    std::fprintf(stderr, "orvel: cannot read %s\n", identity->CertFile.c_str());
    return 1;
  }
  if (const std::string name = stations->CertificateCommonName(identity->CertFile);
      !commonName.empty() && name != commonName) {
    std::fprintf(stderr,
                 "orvel: the operator's certificate was made for %s before; remove %s and %s for a "
                 "new one\n",
                 name.c_str(), identity->CertFile.c_str(), identity->KeyFile.c_str());
  }
  // Standard output stays the certificate alone, for the pipe to orvel-station allow; the
  // fingerprint, to compare with what the station prints, goes beside it.
  if (const std::string fingerprint = stations->PemFingerprint(text.str()); !fingerprint.empty()) {
    std::fprintf(stderr, "Operator certificate SHA-256 fingerprint:\n%s\n",
                 FingerprintLines(fingerprint).c_str());
  }
  std::fputs(text.str().c_str(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// Pins the station's certificate; no display needed, so that it works over ssh and in scripts.
int TrustStation(const std::string& station, const std::string& fingerprint) {
  std::string previous, reason;
  if (!TStationPins().Pin(station, fingerprint, previous, reason)) {
    std::fprintf(stderr, "orvel: %s\n", reason.c_str());
    return 1;
  }
  std::printf("Station %s %s, SHA-256 fingerprint:\n%s\n", station.c_str(),
              previous == fingerprint ? "was trusted already" : "is trusted",
              FingerprintLines(fingerprint).c_str());
  if (!previous.empty() && previous != fingerprint)
    std::printf("in place of:\n%s\n", FingerprintLines(previous).c_str());
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// Platforms that show nobody a window: a question there would wait for ever.
bool CanAskTheOperator() {
  const QString platform = QGuiApplication::platformName();
  return platform != "offscreen" && platform != "minimal";
}

}  // namespace

int main(int argc, char** argv) {
  // A port name may be a station's address, for the window and the station commands alike.
  UseNetworkPorts(std::make_shared<TStationPorts>());
  const TCommandLine options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!options.Error.empty()) {
    std::fprintf(stderr, "orvel: %s\n%s", options.Error.c_str(), UsageText().c_str());
    return 2;
  }
  if (options.Help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (options.Version) {
    std::printf("Orvel %s\n", ORVEL_VERSION);
    return 0;
  }
  if (options.OperatorCertificate) return PrintOperatorCertificate(*options.OperatorCertificate);
  if (options.TrustStation)
    return TrustStation(options.TrustStation->first, options.TrustStation->second);
  if (options.StationCommand != TCommandLine::TStationCommand::None)
    return RunStationCommand(options, stdout, stderr);

  // The application object takes only the toolkit's options; it keeps a reference to both.
  std::vector<std::string> toolkitStrings = options.ToolkitArguments;
  toolkitStrings.insert(toolkitStrings.begin(), argv[0]);
  std::vector<char*> toolkitArgv;
  for (std::string& argument : toolkitStrings) toolkitArgv.push_back(argument.data());
  toolkitArgv.push_back(nullptr);
  int toolkitArgc = static_cast<int>(toolkitStrings.size());

  TApplication app(toolkitArgc, toolkitArgv.data());
  // No display name: Qt would append it to every window's title.
  QApplication::setApplicationName("Orvel");
  QApplication::setApplicationVersion(ORVEL_VERSION);
  QApplication::setStyle(QStyleFactory::create("Fusion"));

  InstallErrorDisplay();
  TQuitOnSignal quitOnSignal;

  TForm1 form1(QCoreApplication::applicationDirPath());
  TForm2 form2;
  form1.AttachPortMonitor(&form2);
  if (!CanAskTheOperator()) {
    // A script's --connect: a station refused for its certificate (not known yet, another one
    // than trusted, or a known-stations file that is not to be trusted) ends the program, and
    // the script is told why and, for one not known yet, how to trust it; a box there would wait
    // for ever.
    auto refused = [](const ESerialPortException& refusal) {
      std::fprintf(stderr, "orvel: %s\n", FailureText(refusal).c_str());
      QCoreApplication::exit(1);
    };
    form1.AskToTrustStation = [refused](const ESerialPortException& refusal) {
      refused(refusal);
      return false;
    };
    form1.OnStationChanged = refused;
  }

  const std::string port = options.Port ? ToCp1252(QString::fromLocal8Bit(*options.Port)) : "";
  const bool listed = !options.Port || form1.SelectPort(port);
  // An address is listed only when it may be shown; what is wrong with it is said instead, and
  // only as much of it as may be shown.
  std::string problem = "The port list has no port of that name";
  const std::string shown = TNetworkAddress::Masked(port);
  if (!listed && TNetworkAddress::IsAddress(port)) {
    TNetworkAddress::Parse(port, problem);
    std::fprintf(stderr, "orvel: port %s is not in the port list: %s\n", shown.c_str(),
                 problem.c_str());
  } else if (!listed) {
    std::fprintf(stderr, "orvel: port %s is not in the port list\n", options.Port->c_str());
  }
  form1.show();
  if (options.Connect && listed) {
    QTimer::singleShot(0, &form1, [&form1] { ClickOpenPort(form1); });
  } else if (options.Connect) {
    // Open Port would try the empty selection and report a port without a name.
    QTimer::singleShot(
        0, &form1, [shown, problem] { ReportUserActionError(CannotConnectText(shown, problem)); });
  }

  const int status = QApplication::exec();
  // The port monitor goes first: nothing may be logged into it once it is gone.
  form1.SerialPort->Close();
  form1.AttachPortMonitor(nullptr);
  return status;
}
