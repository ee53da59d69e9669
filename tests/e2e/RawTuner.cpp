// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// orvel-e2e-raw-tuner: a bare tuner on a pseudo-terminal for the end-to-end tests that need the
// exact bytes on the wire and the line settings the program chose (the simulator logs lines).
// It answers "ATU?" with the identification, appends every byte it receives to RECORD-FILE and,
// when the first bytes arrive, prints the line settings of the port to standard error.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "orvel-e2e-raw-tuner: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

const char* SpeedName(speed_t speed) {
  switch (speed) {
    case B1200:
      return "1200";
    case B2400:
      return "2400";
    case B4800:
      return "4800";
    case B9600:
      return "9600";
    case B19200:
      return "19200";
    case B38400:
      return "38400";
    case B57600:
      return "57600";
    case B115200:
      return "115200";
    default:
      return "other";
  }
}

int DataBits(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

// The settings as one line, e.g. "settings 9600 8 none 1 rtscts=0 ixon=0 ixoff=0".
std::string Settings(int slave) {
  termios tio{};
  if (tcgetattr(slave, &tio) != 0) Die("tcgetattr");
  const char* parity = (tio.c_cflag & PARENB) == 0 ? "none"
                       : (tio.c_cflag & PARODD)    ? "odd"
                                                   : "even";
  char line[128];
  std::snprintf(line, sizeof line, "settings %s %d %s %d rtscts=%d ixon=%d ixoff=%d",
                SpeedName(cfgetospeed(&tio)), DataBits(tio.c_cflag), parity,
                (tio.c_cflag & CSTOPB) ? 2 : 1, (tio.c_cflag & CRTSCTS) ? 1 : 0,
                (tio.c_iflag & IXON) ? 1 : 0, (tio.c_iflag & IXOFF) ? 1 : 0);
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: orvel-e2e-raw-tuner PORTS-DIR NAME RECORD-FILE\n");
    return 2;
  }
  const std::string directory = argv[1];
  const std::string link = directory + "/" + argv[2];

  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGHUP);
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  const int signals = signalfd(-1, &stops, SFD_CLOEXEC);
  if (signals < 0) Die("signalfd");

  // The slave stays open here as well, so that the program closing the port is no hang-up.
  int master = -1;
  int slave = -1;
  char device[256];
  if (openpty(&master, &slave, device, nullptr, nullptr) != 0) Die("openpty");
  termios raw{};
  if (tcgetattr(slave, &raw) != 0) Die("tcgetattr");
  cfmakeraw(&raw);
  if (tcsetattr(slave, TCSANOW, &raw) != 0) Die("tcsetattr");

  const int record = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (record < 0) Die(std::string("cannot create ") + argv[3]);
  if (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) Die("mkdir " + directory);
  unlink(link.c_str());
  if (symlink(device, link.c_str()) != 0) Die("symlink " + link);
  std::printf("%s %s\n", argv[2], device);
  std::fflush(stdout);

  std::string line;
  bool settingsShown = false;
  int status = 0;
  for (;;) {
    pollfd fds[2] = {{signals, POLLIN, 0}, {master, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      Die("poll");
    }
    if (fds[0].revents & POLLIN) break;
    if ((fds[1].revents & POLLIN) == 0) continue;
    char buffer[512];
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) {
      std::fprintf(stderr, "orvel-e2e-raw-tuner: the pseudo-terminal failed\n");
      status = 1;
      break;
    }
    if (!settingsShown) {
      std::fprintf(stderr, "%s\n", Settings(slave).c_str());
      settingsShown = true;
    }
    if (!WriteAll(record, std::string(buffer, static_cast<std::size_t>(got)))) Die("write record");
    for (ssize_t i = 0; i < got; ++i) {
      const char c = buffer[i];
      if (c != '\r' && c != '\n') {
        line += c;
        continue;
      }
      if (line == "ATU?" && !WriteAll(master, "ATU_KORAX 2.0\r\n")) Die("write");
      line.clear();
    }
  }
  unlink(link.c_str());
  return status;
}
