// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Open and close notices of the slave device through inotify. The simulator opened its own
// descriptor before the watch was set, so every notice comes from another program; opens that
// fail (a busy port) give no notice at all.
#include "tools/tuner-sim/OpenerWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

OpenerWatch::OpenerWatch(const std::string& device) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "cannot watch " + device);
  if (inotify_add_watch(fd_, device.c_str(), IN_OPEN | IN_CLOSE) < 0) {
    int saved = errno;
    close(fd_);
    fd_ = -1;
    throw std::system_error(saved, std::generic_category(), "cannot watch " + device);
  }
}

OpenerWatch::~OpenerWatch() {
  if (fd_ >= 0) close(fd_);
}

bool OpenerWatch::Update() {
  bool taken = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    taken = true;
    for (char* at = buffer; at < buffer + got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      if (event->mask & IN_OPEN) {
        ++openers_;
        ever_opened_ = true;
      }
      if ((event->mask & IN_CLOSE) && openers_ > 0) --openers_;
      at += sizeof(inotify_event) + event->len;
    }
  }
  return taken;
}
