// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The test station's Telnet: just enough of the option negotiation and the COM-PORT-OPTION
// subnegotiations to be a correct partner, served one client at a time.
#include "tests/station/TelnetStation.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

constexpr unsigned char Iac = 255;
constexpr unsigned char Dont = 254;
constexpr unsigned char Do = 253;
constexpr unsigned char Wont = 252;
constexpr unsigned char Will = 251;
constexpr unsigned char Sb = 250;
constexpr unsigned char Se = 240;
constexpr unsigned char Binary = 0;
constexpr unsigned char SuppressGoAhead = 3;
constexpr unsigned char ComPort = 44;
// The station's answer to a client's COM-PORT-OPTION command carries the command plus this.
constexpr unsigned char AnswerOffset = 100;
constexpr unsigned char SetStopSize = 4;
constexpr unsigned char FlowSuspend = 8;
constexpr unsigned char FlowResume = 9;

bool Accepted(unsigned char option) {
  return option == Binary || option == SuppressGoAhead || option == ComPort;
}

// The client's Telnet as it arrives, answered as it goes.
class TTelnetReader {
 public:
  // The answer to what arrived, and whether the stop size has just been confirmed.
  std::string Take(const char* bytes, std::size_t size, bool& negotiated) {
    std::string answer;
    for (std::size_t i = 0; i < size; ++i)
      Step(static_cast<unsigned char>(bytes[i]), answer, negotiated);
    return answer;
  }

 private:
  enum class TState { Data, Command, Option, Sub, SubIac };

  void Step(unsigned char c, std::string& answer, bool& negotiated) {
    switch (state_) {
      case TState::Data:
        if (c == Iac) state_ = TState::Command;
        return;
      case TState::Command:
        command_ = c;
        state_ = c >= Will && c <= Dont ? TState::Option : c == Sb ? TState::Sub : TState::Data;
        sub_.clear();
        return;
      case TState::Option:
        state_ = TState::Data;
        // Each option is answered once: answering an answer would never end.
        if (!seen_.insert({command_, c}).second) return;
        if (command_ == Will || command_ == Do) {
          const bool yes = Accepted(c);
          const unsigned char reply = command_ == Will ? (yes ? Do : Dont) : (yes ? Will : Wont);
          answer += {static_cast<char>(Iac), static_cast<char>(reply), static_cast<char>(c)};
        }
        return;
      case TState::Sub:
        if (c == Iac) {
          state_ = TState::SubIac;
        } else {
          sub_ += static_cast<char>(c);
        }
        return;
      case TState::SubIac:
        if (c == Iac) {
          sub_ += static_cast<char>(c);
          state_ = TState::Sub;
          return;
        }
        state_ = TState::Data;
        if (c == Se) answer += SubAnswer(negotiated);
        return;
    }
  }

  // RFC 2217: every command but the flow suspension is answered with its value, a value of
  // zero (a query) with the current setting.
  std::string SubAnswer(bool& negotiated) {
    if (sub_.size() < 2 || static_cast<unsigned char>(sub_[0]) != ComPort) return {};
    const auto command = static_cast<unsigned char>(sub_[1]);
    if (command == FlowSuspend || command == FlowResume || command >= AnswerOffset) return {};
    std::string value = sub_.substr(2);
    if (command == 0 && value.empty()) value = "strict station";
    if (command >= 1 && command <= 5) {
      std::string& current = settings_[command];
      if (!value.empty() && value.find_first_not_of('\0') != std::string::npos) current = value;
      value = current.empty() ? value : current;
    }
    if (command == SetStopSize) negotiated = true;
    std::string answer{static_cast<char>(Iac), static_cast<char>(Sb), static_cast<char>(ComPort),
                       static_cast<char>(command + AnswerOffset)};
    for (char c : value) {
      answer += c;
      if (static_cast<unsigned char>(c) == Iac) answer += c;
    }
    answer += {static_cast<char>(Iac), static_cast<char>(Se)};
    return answer;
  }

  TState state_ = TState::Data;
  unsigned char command_ = 0;
  std::string sub_;
  std::set<std::pair<unsigned char, unsigned char>> seen_;
  std::string settings_[6];
};

bool SendAll(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    pollfd writable{fd, POLLOUT, 0};
    if (::poll(&writable, 1, 1000) <= 0) return false;
    const ssize_t count = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) return false;
    sent += static_cast<std::size_t>(count);
  }
  return true;
}

}  // namespace

TTelnetStation::TTelnetStation(TConduct conduct, std::uint64_t garbageLimit)
    : conduct_(conduct), garbageLimit_(garbageLimit) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
      ::listen(listener_, 4) ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) ||
      ::pipe2(stopPipe_, O_CLOEXEC) || ::pipe2(newsPipe_, O_CLOEXEC)) {
    throw std::runtime_error("no station");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

TTelnetStation::~TTelnetStation() {
  const char stop = 0;
  (void)!::write(stopPipe_[1], &stop, 1);
  thread_.join();
  ::close(listener_);
  ::close(stopPipe_[0]);
  ::close(stopPipe_[1]);
  ::close(newsPipe_[0]);
  ::close(newsPipe_[1]);
}

void TTelnetStation::NotifyModemState(std::uint8_t lines) {
  (void)!::write(newsPipe_[1], &lines, 1);
}

std::string TTelnetStation::Address() const {
  return "rfc2217://127.0.0.1:" + std::to_string(port_);
}

void TTelnetStation::Serve() {
  for (;;) {
    pollfd waits[] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0) continue;
    if (waits[1].revents) return;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) continue;
    Talk(client);
    ::close(client);
    ++served_;
  }
}

void TTelnetStation::Talk(int client) {
  std::mt19937 random(static_cast<unsigned>(served_ + 1));
  std::string garbage(1 << 16, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  const bool burst = conduct_ == TConduct::BurstWhenNegotiated;
  if (burst) {
    std::string escaped;
    for (char c : garbage) {
      escaped += c;
      if (static_cast<unsigned char>(c) == Iac) escaped += c;
    }
    garbage = std::move(escaped);
  }
  TTelnetReader reader;
  bool flooding = conduct_ == TConduct::GarbageAtOnce;
  std::uint64_t sent = 0;
  std::vector<char> input(4096);
  for (;;) {
    // A flooding station reads nothing, as a blasting one would: whatever the client answers
    // piles up in front of it.
    pollfd waits[] = {{client, static_cast<short>(flooding ? POLLOUT : POLLIN), 0},
                      {stopPipe_[0], POLLIN, 0},
                      {newsPipe_[0], POLLIN, 0}};
    if (::poll(waits, 3, -1) < 0) continue;
    if (waits[1].revents) return;
    if (flooding && (waits[0].revents & (POLLHUP | POLLERR))) return;
    if (waits[2].revents & POLLIN) {
      std::uint8_t lines = 0;
      // IAC SB COM-PORT-OPTION NOTIFY-MODEMSTATE (server side: 7 + 100) <lines> IAC SE
      if (::read(newsPipe_[0], &lines, 1) == 1 &&
          !SendAll(client, std::string{'\xff', '\xfa', '\x2c', '\x6b', static_cast<char>(lines),
                                       '\xff', '\xf0'})) {
        return;
      }
    }
    if (!flooding && (waits[0].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t count = ::recv(client, input.data(), input.size(), 0);
      if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) return;
      if (count > 0) {
        bool negotiated = false;
        if (!SendAll(client,
                     reader.Take(input.data(), static_cast<std::size_t>(count), negotiated))) {
          return;
        }
        flooding = negotiated && (conduct_ == TConduct::FloodWhenNegotiated || burst);
      }
    }
    if (flooding && (waits[0].revents & POLLOUT)) {
      const std::size_t size =
          static_cast<std::size_t>(std::min<std::uint64_t>(garbage.size(), garbageLimit_ - sent));
      const ssize_t count = ::send(client, garbage.data(), size, MSG_NOSIGNAL);
      if (count < 0 && errno != EAGAIN && errno != EINTR) return;
      if (count > 0) {
        sent += static_cast<std::uint64_t>(count);
        garbageSent_ += static_cast<std::uint64_t>(count);
      }
      flooding = sent < garbageLimit_;
    }
  }
}
