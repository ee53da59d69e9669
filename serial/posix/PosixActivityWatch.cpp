// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// Waiting for an open port's activity with poll(), inotify and an eventfd.
#include "serial/posix/PosixActivityWatch.h"

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
#include <mutex>
#include <utility>

#include "serial/PortsDirectory.h"
#include "serial/posix/PortList.h"
#include "serial/posix/RetryOnInterrupt.h"

namespace {

using TClock = std::chrono::steady_clock;

// A port list entry may lead to its device through a chain of links (a by-id link to ttyUSB0);
// links beyond these are not watched, only the node where the chain ends.
constexpr int MostLinksFollowed = 8;

// Whatever takes a link's name away or puts another entry in its place, in the link's folder.
constexpr std::uint32_t LinkFolderChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                            IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// The device node itself: unlinked (its link count changes), moved or renamed over. Its folder is
// not watched: /dev/pts changes with every terminal that opens anywhere, and a device that goes
// away with its node (an unplugged adapter, a pseudo-terminal whose other end closed) hangs up,
// which wakes the wait on the device.
constexpr std::uint32_t NodeChanges = IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
// The watched folder or node itself is gone, moved or unmounted: its watch says nothing more.
constexpr std::uint32_t WatchedGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

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

// Closing an inotify descriptor that has had watches waits until the kernel has retired them
// (10 to 20 ms here), which would hold up every Close: a descriptor is kept for the next watch
// instead, as many as ports were ever open at once.
class TDescriptorPool {
 public:
  int Take() {
    {
      std::lock_guard lock(mutex_);
      if (!free_.empty()) {
        const int descriptor = free_.back();
        free_.pop_back();
        return descriptor;
      }
    }
    return ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  }
  void Give(int descriptor) {
    std::lock_guard lock(mutex_);
    free_.push_back(descriptor);
  }

 private:
  std::mutex mutex_;
  std::vector<int> free_;
};

// Never destroyed: a receive thread that a handler's Close forgot may end after main().
TDescriptorPool& ChangesPool() {
  static auto* pool = new TDescriptorPool;
  return *pool;
}

}  // namespace

std::unique_ptr<TPosixActivityWatch> TPosixActivityWatch::Create(int device, bool connection) {
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) return nullptr;
  return std::make_unique<TPosixActivityWatch>(device, wake, connection);
}

TPosixActivityWatch::TPosixActivityWatch(int device, int wake, bool connection)
    : device_(device), wake_(wake), connection_(connection) {}

TPosixActivityWatch::~TPosixActivityWatch() {
  StopWatching();
  if (changes_ >= 0) ChangesPool().Give(changes_);
  ::close(wake_);
}

void TPosixActivityWatch::WatchEntry(const std::optional<TListedPort>& port) {
  port_ = port;
  Rewatch();
}

void TPosixActivityWatch::StopWatching() {
  for (const TWatchedName& watched : names_) ::inotify_rm_watch(changes_, watched.watch);
  names_.clear();
  // The removals' own notices go unread otherwise.
  if (changes_ >= 0) ConcernsPort();
  portsDirectory_.clear();
  complete_ = false;
}

bool TPosixActivityWatch::TakeChanges() {
  if (changes_ >= 0) return true;
  changes_ = ChangesPool().Take();
  if (changes_ < 0) return false;
  // What the descriptor's earlier user left unread.
  ConcernsPort();
  return true;
}

void TPosixActivityWatch::Rewatch() {
  StopWatching();
  stale_ = false;
  if (connection_) {
    // A station named by an address alone is there while its connection lasts; one from the
    // port directory while its entry stays as well (an entry edited in place counts too).
    if (port_ && !port_->LinkPath.empty()) {
      auto [folder, name] = FolderAndName(port_->LinkPath);
      if (!TakeChanges() || !Watch(folder, LinkFolderChanges | IN_CLOSE_WRITE, name)) return;
      portsDirectory_ = std::move(folder);
    }
    complete_ = true;
    return;
  }
  // Without an entry the presence test reads the whole list, which no watch can stand for.
  if (!port_ || !PresenceRestsOnEntries(*port_)) return;
  if (!TakeChanges()) return;
  std::string path = port_->LinkPath.empty() ? port_->DevicePath : port_->LinkPath;
  for (int link = 0; link < MostLinksFollowed; ++link) {
    std::string target = LinkTarget(path);
    if (target.empty()) break;
    auto [folder, name] = FolderAndName(path);
    if (!Watch(folder, LinkFolderChanges, std::move(name))) return;
    path = std::move(target);
  }
  const std::string node = RealPath(port_->DevicePath);
  if (node.empty()) {
    StopWatching();
    return;
  }
  if (!Watch(node, NodeChanges, std::string())) return;
  if (!port_->LinkPath.empty()) portsDirectory_ = FolderAndName(port_->LinkPath).first;
  complete_ = true;
}

bool TPosixActivityWatch::Watch(const std::string& path, std::uint32_t changes, std::string name) {
  const int watch = ::inotify_add_watch(changes_, path.c_str(), changes);
  // What cannot be watched (gone already, or the system's limit of watches reached) leaves the
  // port to be looked at every Delay.
  if (watch < 0) {
    StopWatching();
    return false;
  }
  names_.push_back({watch, std::move(name)});
  return true;
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
      const std::string_view changed(name, event.len > 0 ? ::strnlen(name, event.len) : 0);
      for (const TWatchedName& watched : names_) {
        if (watched.watch != event.wd) continue;
        if (event.mask & WatchedGone) {
          stale_ = true;
          concerns = true;
        } else if (watched.name == changed) {
          concerns = true;
        }
      }
    }
  }
  return concerns;
}
