// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Command-line parsing and help of the tuner simulator.
#include "tools/tuner-sim/SimOptions.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace {

template <typename Number>
Number ParseNumber(const std::string& option, const std::string& text, Number low, Number high) {
  Number value{};
  const char* end = text.data() + text.size();
  auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || ptr != end || !(value >= low && value <= high)) {
    throw std::invalid_argument(option + " wants a number from " + std::to_string(low) + " to " +
                                std::to_string(high) + ", not \"" + text + "\"");
  }
  return value;
}

bool ValidPortName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 64) return false;
  for (char c : name) {
    if (c == '/' || static_cast<unsigned char>(c) <= 32) return false;
  }
  return true;
}

}  // namespace

SimOptions ParseOptions(const std::vector<std::string>& arguments) {
  SimOptions options;
  bool load_given = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string option = arguments[i];
    std::optional<std::string> inline_value;
    if (auto equals = option.find('='); option.starts_with("--") && equals != std::string::npos) {
      inline_value = option.substr(equals + 1);
      option.resize(equals);
    }
    auto flag = [&] {
      if (inline_value) throw std::invalid_argument(option + " takes no value");
    };
    auto value = [&]() -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= arguments.size()) throw std::invalid_argument(option + " needs a value");
      return arguments[++i];
    };
    auto choose_load = [&](std::optional<Load> load, const std::string& text) {
      if (!load) throw std::invalid_argument("unknown antenna or malformed load \"" + text + "\"");
      if (load_given) throw std::invalid_argument("give one --antenna or --load, not both");
      options.load = *load;
      load_given = true;
    };

    if (option == "--help" || option == "-h") {
      flag();
      options.help = true;
    } else if (option == "--version") {
      flag();
      options.version = true;
    } else if (option == "--name") {
      options.name = value();
      if (!ValidPortName(options.name)) {
        throw std::invalid_argument("--name wants a file name without '/' or blanks, not \"" +
                                    options.name + "\"");
      }
    } else if (option == "--antenna") {
      std::string name = value();
      choose_load(FindBuiltInLoad(name), name);
    } else if (option == "--load") {
      std::string text = value();
      choose_load(ParseLoad(text), text);
    } else if (option == "--once") {
      flag();
      options.once = true;
    } else if (option == "--silent") {
      flag();
      options.faults.silent = true;
    } else if (option == "--split") {
      flag();
      options.split = true;
    } else if (option == "--garbage") {
      options.faults.garbage_rate = ParseNumber<double>(option, value(), 0, 1);
    } else if (option == "--flood") {
      options.faults.flood_per_second = ParseNumber<int>(option, value(), 0, 1000);
    } else if (option == "--unplug-after") {
      double seconds = ParseNumber<double>(option, value(), 0.001, 86400);
      options.unplug_after = std::chrono::milliseconds(std::lround(seconds * 1000));
    } else if (option == "--seed") {
      options.seed = ParseNumber<std::uint32_t>(option, value(), 0, UINT32_MAX);
    } else if (option == "--delay") {
      options.faults.delay = std::chrono::milliseconds(ParseNumber<int>(option, value(), 0, 10000));
    } else if (option == "--verbose" || option == "-v") {
      flag();
      options.verbose = true;
    } else {
      throw std::invalid_argument("unknown option \"" + arguments[i] + "\"");
    }
  }
  return options;
}

std::string HelpText() {
  std::string text =
      "Usage: orvel-tuner-sim [OPTION]...\n"
      "Plays an automatic antenna tuner on a pseudo-terminal, for trying Orvel without one.\n"
      "\n"
      "It links the pseudo-terminal into the port directory ($ORVEL_PORTS_DIR, else\n"
      "${XDG_CONFIG_HOME:-$HOME/.config}/orvel/ports, created when missing) under the port\n"
      "name, prints one line \"NAME DEVICE\" (e.g. \"COM250 /dev/pts/3\") on standard output,\n"
      "and removes the link again when it ends.\n"
      "\n"
      "The tuner answers \"ATU?\" with \"ATU_KORAX 2.0\"; \"????\" with a full status report;\n"
      "\"TUNE ON\" with a tuning cycle of about three seconds; \"SWRmin 11\" to \"SWRmin 17\" "
      "with\n"
      "\"SWRmin: NN\"; \"CMEM\" clears the stored L, C, side and SWR. \"Port_L\", \"Port_C\"\n"
      "(up to 8 binary digits), \"SWRmin\", \"MaxFWD\" (up to 3 digits) and \"RDelay\" (up to 2\n"
      "digits, milliseconds), each followed by a blank and \"?\" or a value, report or set that\n"
      "value. Anything else is answered with \"ERROR\". Commands end with CR, LF or both;\n"
      "every line sent ends with CR LF.\n"
      "\n"
      "Options:\n"
      "  --name NAME         port name of the link (default COM250)\n"
      "  --antenna NAME      connect one of the built-in antennas below (default: the first)\n"
      "  --load R,X[,MHZ]    connect a load of R + jX ohms (R above 0) at MHZ (default 14.2)\n"
      "  --once              end when the other side has closed the port for good: no program\n"
      "                      has held it open for 2 seconds after the last one closed it\n"
      "  --silent            never answer \"ATU?\" (the program's probe times out)\n"
      "  --split             send the output in random chunks of 1 to 16 bytes with pauses of\n"
      "                      up to 20 ms, including lone CRs and CR LF cut in two\n"
      "  --garbage RATE      before a line, with chance RATE (0 to 1), send a line of random\n"
      "                      bytes; it begins with a byte above 7F, holds no CR or LF and\n"
      "                      ends with CR LF\n"
      "  --flood N           send N extra status lines per second (up to 1000)\n"
      "  --unplug-after S    after S seconds close the pseudo-terminal, as an unplugged\n"
      "                      adapter, remove the link and end\n"
      "  --seed N            seed of every random choice, for repeatable runs\n"
      "  --delay MS          answer every command MS milliseconds late (up to 10000)\n"
      "  --verbose, -v       log what it receives, and the port's opening and closing, to\n"
      "                      standard error\n"
      "  --version           print the version and end\n"
      "  --help, -h          print this help and end\n"
      "\n"
      "Built-in antennas (R + jX ohms at MHz):\n";
  for (const Load& load : BuiltInLoads()) {
    char row[96];
    std::snprintf(row, sizeof row, "  %-12s %7.1f %+8.1f j  at %6.2f MHz\n", load.name.c_str(),
                  load.resistance, load.reactance, load.megahertz);
    text += row;
  }
  text +=
      "\n"
      "It ends on SIGINT, SIGTERM or SIGHUP. Exit status: 0 at a normal end, 1 when the\n"
      "pseudo-terminal or the link cannot be made, 2 for a wrong command line.\n";
  return text;
}
