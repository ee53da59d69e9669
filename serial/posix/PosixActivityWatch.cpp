// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Waiting for an open port's activity with poll(), inotify and an eventfd.
#include "PosixActivityWatch.h"

#include <limits.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "PortList.h"
#include "PortsDirectory.h"
#include "RetryOnInterrupt.h"

namespace {

using TClock = std::chrono::steady_clock;

// A port list entry may lead to its device through a chain of links (a by-id link to ttyUSB0);
// longer chains are not watched link by link, only where they end.
constexpr int MostLinksFollowed = 8;

// Whatever can take the port's name or device away, or put another in its place. Changes of
// file contents are left out: the device's own traffic would wake the wait.
constexpr std::uint32_t WatchedChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                         IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// The watched folder itself is gone, moved or unmounted: its watch says nothing more.
constexpr std::uint32_t FolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

std::pair<std::string, std::string> FolderAndName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Where the link at `path` points, relative targets taken from its folder; empty when `path` is
// no link.
std::string LinkTarget(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) return {};
  std::string text(target, static_cast<std::size_t>(length));
  return text.front() == '/' ? text : FolderAndName(path).first + "/" + text;
}

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return {};
  std::string text(real);
  std::free(real);
  return text;
}

}  // namespace

std::unique_ptr<TPosixActivityWatch> TPosixActivityWatch::Create(int device) {
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) return nullptr;
  return std::make_unique<TPosixActivityWatch>(device, wake);
}

TPosixActivityWatch::TPosixActivityWatch(int device, int wake) : device_(device), wake_(wake) {}

TPosixActivityWatch::~TPosixActivityWatch() {
  StopWatching();
  ::close(wake_);
}

void TPosixActivityWatch::WatchEntry(const std::optional<TListedPort>& port) {
  port_ = port;
  Rewatch();
}

void TPosixActivityWatch::StopWatching() {
  if (changes_ >= 0) ::close(changes_);
  changes_ = -1;
  names_.clear();
  portsDirectory_.clear();
  complete_ = false;
}

void TPosixActivityWatch::Rewatch() {
  StopWatching();
  stale_ = false;
  // Without an entry the presence test reads the whole list, which no watch can stand for.
  if (!port_ || !PresenceRestsOnEntries(*port_)) return;
  changes_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (changes_ < 0) return;
  std::vector<std::string> paths;
  std::string path = port_->LinkPath.empty() ? port_->DevicePath : port_->LinkPath;
  for (int link = 0; link <= MostLinksFollowed && !path.empty(); ++link) {
    paths.push_back(path);
    path = LinkTarget(path);
  }
  if (std::string real = RealPath(port_->DevicePath); !real.empty()) paths.push_back(real);
  for (const std::string& watched : paths) {
    auto [folder, name] = FolderAndName(watched);
    const int descriptor = ::inotify_add_watch(changes_, folder.c_str(), WatchedChanges);
    // A folder that cannot be watched (gone already, or the system's limit of watches reached)
    // leaves the port to be looked at every Delay.
    if (descriptor < 0) {
      StopWatching();
      return;
    }
    names_.push_back({descriptor, std::move(name)});
  }
  if (!port_->LinkPath.empty()) portsDirectory_ = FolderAndName(port_->LinkPath).first;
  complete_ = true;
}

bool TPosixActivityWatch::Wait(std::optional<std::chrono::milliseconds> timeout) {
  // Made again first, then looked at: a change in between is not missed.
  if (stale_) {
    Rewatch();
    return true;
  }
  // The environment may name another port directory by now, which no folder watch hears of.
  if (!portsDirectory_.empty() && PortsDirectory() != portsDirectory_) return true;
  pollfd watched[] = {{wake_, POLLIN, 0}, {device_, POLLIN, 0}, {changes_, POLLIN, 0}};
  const nfds_t count = changes_ >= 0 ? 3 : 2;
  // Without a watch for every change, the port is looked at after each pause, as it always was.
  if (!complete_) timeout = std::chrono::milliseconds(0);
  const TClock::time_point deadline =
      timeout ? TClock::now() + *timeout : TClock::time_point::max();
  for (;;) {
    int limit = -1;
    if (timeout) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
      limit = static_cast<int>(std::clamp<std::int64_t>(left, 0, INT_MAX));
    }
    const int ready = ::poll(watched, count, limit);
    // An interrupted or failed wait costs one look at the port, no more.
    if (ready < 0) return true;
    if (ready == 0) return !complete_;
    if (watched[0].revents != 0) {
      std::uint64_t woken = 0;
      [[maybe_unused]] const ssize_t read = ::read(wake_, &woken, sizeof woken);
      return true;
    }
    // Bytes, a hang-up or an error of the device.
    if (watched[1].revents != 0) return true;
    if (ConcernsPort()) return true;
  }
}

void TPosixActivityWatch::Wake() {
  const std::uint64_t one = 1;
  // A full counter is readable already.
  [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
}

bool TPosixActivityWatch::ConcernsPort() {
  alignas(inotify_event) char buffer[4096];
  bool concerns = false;
  for (;;) {
    const ssize_t length =
        RetryOnInterrupt([&] { return ::read(changes_, buffer, sizeof buffer); });
    if (length <= 0) break;
    for (std::size_t offset = 0; offset + sizeof(inotify_event) <= std::size_t(length);) {
      inotify_event event{};
      std::memcpy(&event, buffer + offset, sizeof event);
      const char* name = buffer + offset + sizeof event;
      offset += sizeof event + event.len;
      if (event.mask & IN_Q_OVERFLOW) concerns = true;
      if (event.mask & FolderGone) {
        stale_ = true;
        concerns = true;
        continue;
      }
      if (event.len == 0) continue;
      const std::string_view changed(name, ::strnlen(name, event.len));
      concerns = concerns || std::any_of(names_.begin(), names_.end(), [&](const TWatchedName& n) {
                   return n.folder == event.wd && n.name == changed;
                 });
    }
  }
  return concerns;
}
