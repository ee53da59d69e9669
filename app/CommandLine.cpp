// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Command-line parsing without Qt: the application object needs a display, --help does not.
#include "app/CommandLine.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "station/NetworkAddress.h"
#include "station/StationPins.h"

namespace {

// The toolkit options that QApplication takes from the command line, with and without a value.
constexpr std::array<std::string_view, 14> kToolkitOptionsWithValue = {"-platform",
                                                                       "-platformpluginpath",
                                                                       "-platformtheme",
                                                                       "-plugin",
                                                                       "-qwindowgeometry",
                                                                       "-qwindowicon",
                                                                       "-qwindowtitle",
                                                                       "-display",
                                                                       "-geometry",
                                                                       "-style",
                                                                       "-stylesheet",
                                                                       "-session",
                                                                       "-name",
                                                                       "-title"};
constexpr std::array<std::string_view, 5> kToolkitFlags = {"-reverse", "-widgetcount", "-sync",
                                                           "-nograb", "-dograb"};

template <std::size_t N>
bool Contains(const std::array<std::string_view, N>& list, std::string_view item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// The station command an option names, with how many words follow it.
std::optional<std::pair<TCommandLine::TStationCommand, std::size_t>> StationCommandOf(
    std::string_view option) {
  using enum TCommandLine::TStationCommand;
  if (option == "--add-station") return std::pair(Add, std::size_t{2});
  if (option == "--rename-station") return std::pair(Rename, std::size_t{2});
  if (option == "--remove-station") return std::pair(Remove, std::size_t{1});
  if (option == "--forget-station") return std::pair(Forget, std::size_t{1});
  return std::nullopt;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine line;
  for (std::size_t i = 0; i < arguments.size() && line.Error.empty(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "-h" || argument == "--help" || argument == "-?") {
      line.Help = true;
    } else if (argument == "-v" || argument == "--version") {
      line.Version = true;
    } else if (argument == "--connect") {
      line.Connect = true;
    } else if (argument == "--operator-certificate") {
      line.OperatorCertificate = "";
    } else if (argument.starts_with("--operator-certificate=")) {
      line.OperatorCertificate = argument.substr(23);
      if (line.OperatorCertificate->empty())
        line.Error = "option --operator-certificate= needs a name";
    } else if (argument == "--trust-station") {
      if (i + 2 >= arguments.size()) {
        line.Error = "option --trust-station needs HOST:PORT and a fingerprint";
        break;
      }
      std::string reason;
      const std::optional<TNetworkAddress> address =
          TNetworkAddress::ParseStation(arguments[i + 1], reason);
      const std::string station = address ? address->Station() : std::string();
      const std::string fingerprint = NormalFingerprint(arguments[i + 2]);
      if (station.empty()) {
        line.Error = "option --trust-station needs HOST:PORT, not " + arguments[i + 1];
      } else if (fingerprint.empty()) {
        line.Error = arguments[i + 2] +
                     " is not a SHA-256 fingerprint (64 hexadecimal digits, in pairs "
                     "separated by colons or not)";
      }
      line.TrustStation.emplace(station, fingerprint);
      i += 2;
    } else if (argument == "--stations") {
      line.StationCommand = TCommandLine::TStationCommand::List;
    } else if (const auto command = StationCommandOf(argument)) {
      const std::size_t count = command->second;
      if (i + count >= arguments.size()) {
        line.Error = "option " + argument + " needs " + (count == 2 ? "two names" : "a name");
        if (argument == "--add-station") line.Error = "option --add-station needs NAME and ADDRESS";
        break;
      }
      line.StationCommand = command->first;
      line.StationArguments.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                   arguments.begin() + static_cast<std::ptrdiff_t>(i + count) + 1);
      i += count;
    } else if (argument == "--port") {
      if (i + 1 == arguments.size()) {
        line.Error = "option --port needs a port name";
      } else {
        line.Port = arguments[++i];
      }
    } else if (argument.starts_with("--port=")) {
      line.Port = argument.substr(7);
    } else if (Contains(kToolkitOptionsWithValue, argument)) {
      if (i + 1 == arguments.size()) {
        line.Error = "option " + argument + " needs a value";
      } else {
        line.ToolkitArguments.push_back(argument);
        line.ToolkitArguments.push_back(arguments[++i]);
      }
    } else if (Contains(kToolkitFlags, argument)) {
      line.ToolkitArguments.push_back(argument);
    } else if (argument.starts_with('-') && argument != "-") {
      line.Error = "unknown option " + argument;
    } else {
      line.Error = "unexpected argument " + argument;
    }
  }
  if (line.Port && line.Port->empty() && line.Error.empty())
    line.Error = "option --port needs a port name";

  return line;
}

std::string UsageText() {
  return "Usage: orvel [--port NAME] [--connect]\n"
         "       orvel --operator-certificate[=NAME]\n"
         "       orvel --trust-station HOST:PORT FINGERPRINT\n"
         "       orvel --stations | --add-station NAME ADDRESS | --rename-station NAME NEW\n"
         "             | --remove-station NAME | --forget-station NAME\n"
         "       orvel --help | --version\n"
         "Remote control for the 1.2 kW automatic antenna tuner over a serial port.\n"
         "\n"
         "Options:\n"
         "  --port NAME   preselect this port instead of the settings file's: a listed\n"
         "                name, a device path or a network address such as\n"
         "                rfc2217://HOST:PORT\n"
         "  --connect     open the preselected port once the window is shown\n"
         "  --operator-certificate[=NAME]\n"
         "                print this user's certificate for stations that accept only\n"
         "                known operators, and end; the key and the certificate (common\n"
         "                name NAME, else the login name) are made in ~/.config/orvel/\n"
         "                when missing. To let a station accept it:\n"
         "                orvel --operator-certificate | ssh STATION sudo orvel-station allow -\n"
         "  --trust-station HOST:PORT FINGERPRINT\n"
         "                trust the station's own certificate with this SHA-256\n"
         "                fingerprint (what orvel-station init printed) for\n"
         "                rfc2217+tls://HOST:PORT without ca=, in place of one trusted\n"
         "                before, and end; kept in ~/.config/orvel/known-stations\n"
         "  --stations    list the stations of the port directory and those announced on\n"
         "                the local network (looked for a few seconds), one a line:\n"
         "                name, address, TLS or plain, whether a certificate is pinned\n"
         "                for its host and port (\"pinned\" and its first pairs; the\n"
         "                connection checks the station's certificate against it), origin\n"
         "  --add-station NAME ADDRESS\n"
         "                list the station at ADDRESS (rfc2217+tls://HOST:PORT or\n"
         "                rfc2217://HOST:PORT) under NAME in the port directory; a name\n"
         "                that an entry there has (a link, a note) or a device's (COM1)\n"
         "                is refused\n"
         "  --rename-station NAME NEW, --remove-station NAME\n"
         "                rename or remove a station that Orvel listed (entries written\n"
         "                by hand are left alone)\n"
         "  --forget-station NAME\n"
         "                forget the certificate trusted for the station (it was given a\n"
         "                new key): the next connection asks about it again\n"
         "  -h, --help    print this text and end\n"
         "  -v, --version print the version and end\n"
         "Qt's own options (-platform, -display, -style ...) are handed on to the toolkit.\n"
         "\n"
         "A tuner beside a station that orvel-station init set up (see orvel-station(1)):\n"
         "  1. orvel --operator-certificate | ssh STATION sudo orvel-station allow -\n"
         "  2. in the window, File > Add Station..., pick the station, Add and Open,\n"
         "     and Yes if the fingerprint shown is the one orvel-station init printed.\n"
         "  Another way, without the question: copy the station's certificate\n"
         "  (/etc/ser2net/station.crt) and add rfc2217+tls://HOST:3002?ca=FILE.\n"
         "\n"
         "Environment:\n"
         "  ORVEL_PORTS_DIR  the port directory (default ~/.config/orvel/ports): each\n"
         "                   symbolic link in it is a port named after the link that opens\n"
         "                   the device it points to, and each file holding a network\n"
         "                   address (rfc2217://HOST:PORT) a port named after the file.\n"
         "                   Problems with the directory or its entries are reported once\n"
         "                   on standard error.\n"
         "\n"
         "Files:\n"
         "  Orvel.ini     beside the program, else ~/.config/orvel/Orvel.ini\n"
         "                ($XDG_CONFIG_HOME/orvel), read once at start:\n"
         "                [Configuration] Port=COM7 preselects COM7\n";
}
