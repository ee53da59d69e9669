// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The mDNS watch on the process's station loop: gensio's callbacks only note what changed; the
// browser's own thread hands the list to the window, so that the loop never waits on the window.
#include "station/StationBrowser.h"

#include <arpa/inet.h>
#include <gensio/gensio.h>
#include <gensio/gensio_mdns.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <new>

#include "serial/UiHandOver.h"
#include "station/StationLoop.h"

namespace {

// Runs `call` on the loop's thread and returns once it ran. gensio's mDNS calls go there, where
// its callbacks run: a watch removed or freed on another thread frees what a callback in progress
// on the loop still reads.
void OnLoop(gensio_os_funcs* os, const std::function<void()>& call) {
  struct TCall {
    explicit TCall(const std::function<void()>& made) : call(made) {}
    const std::function<void()>& call;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
  } state(call);
  gensio_runner* runner = os->alloc_runner(
      os,
      [](gensio_runner*, void* data) {
        auto* running = static_cast<TCall*>(data);
        running->call();
        std::lock_guard lock(running->mutex);
        running->finished = true;
        running->done.notify_all();
      },
      &state);
  if (!runner || os->run(runner) != 0) {
    if (runner) os->free_runner(runner);
    throw std::bad_alloc();
  }
  std::unique_lock lock(state.mutex);
  state.done.wait(lock, [&] { return state.finished; });
  lock.unlock();
  os->free_runner(runner);
}

// What ser2net announces a connection as (there is no registered type for RFC 2217).
constexpr const char* kServiceType = "=_iostream._tcp";
// gensio confirms within moments that the watch is let go; a browser never waits longer.
constexpr auto kReleaseBound = std::chrono::seconds(5);

// The components of a gensio stack at its top level: "telnet(rfc2217),ssl(a,b),tcp".
std::vector<std::string_view> Components(std::string_view stack) {
  std::vector<std::string_view> parts;
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= stack.size(); ++i) {
    if (i == stack.size() || (stack[i] == ',' && depth == 0)) {
      parts.push_back(stack.substr(start, i - start));
      start = i + 1;
    } else if (stack[i] == '(') {
      ++depth;
    } else if (stack[i] == ')') {
      --depth;
    }
  }
  return parts;
}

std::string_view ComponentName(std::string_view component) {
  return component.substr(0, component.find('('));
}

// "a.b.c.d" or an IPv6 address; empty for a link-local IPv6 address or another family.
std::string AddressText(const gensio_addr* address, unsigned& port) {
  sockaddr_storage raw{};
  gensiods size = sizeof raw;
  gensio_addr_getaddr(address, &raw, &size);
  char text[INET6_ADDRSTRLEN] = {};
  if (raw.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&raw);
    port = ntohs(v4->sin_port);
    return inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text) ? text : "";
  }
  if (raw.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&raw);
    port = ntohs(v6->sin6_port);
    if (IN6_IS_ADDR_LINKLOCAL(&v6->sin6_addr)) return {};
    return inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text) ? text : "";
  }
  return {};
}

}  // namespace

TGensioStack ParseGensioStack(std::string_view stack) {
  TGensioStack parsed;
  const std::vector<std::string_view> parts = Components(stack);
  if (ComponentName(parts.front()) == "telnet") {
    const std::string_view first = parts.front();
    const std::size_t open = first.find('(');
    if (open != std::string_view::npos && first.ends_with(')')) {
      for (std::string_view option : Components(first.substr(open + 1, first.size() - open - 2))) {
        if (option == "rfc2217" || option == "rfc2217=true" || option == "rfc2217=1")
          parsed.Rfc2217 = true;
      }
    }
  }
  parsed.Tls = std::any_of(parts.begin(), parts.end(),
                           [](std::string_view part) { return ComponentName(part) == "ssl"; });
  return parsed;
}

struct TStationBrowser::TShared {
  struct TRecord {
    int Interface;
    int IpDomain;
    TFoundStation Station;
  };

  gensio_os_funcs* os = nullptr;
  std::mutex mutex;
  // Something changed for the browser's thread (news, a release, the stop)...
  std::condition_variable news;
  // ...and for the one who stops it (a hand-over done, the thread finished).
  std::condition_variable finishedSignal;
  bool stopping = false;
  // The thread has a change to hand over to the window, or is handing it over.
  bool handingOver = false;
  bool finished = false;
  bool changed = false;
  TState state = TState::Looking;
  std::string reason;
  // As announced: one record per interface and IP version of each station.
  std::vector<TRecord> records;
  int released = 0;

  std::vector<TFoundStation> Grouped() const {
    std::vector<TFoundStation> stations;
    for (const TRecord& record : records) {
      auto station = std::find_if(stations.begin(), stations.end(), [&](const auto& known) {
        return known.Name == record.Station.Name;
      });
      if (station == stations.end()) {
        stations.push_back(record.Station);
        stations.back().Addresses.clear();
        station = stations.end() - 1;
      }
      for (const std::string& address : record.Station.Addresses) {
        if (std::find(station->Addresses.begin(), station->Addresses.end(), address) ==
            station->Addresses.end())
          station->Addresses.push_back(address);
      }
    }
    for (TFoundStation& station : stations) {
      std::sort(station.Addresses.begin(), station.Addresses.end(),
                [](const std::string& a, const std::string& b) {
                  const bool a6 = a.find(':') != std::string::npos;
                  const bool b6 = b.find(':') != std::string::npos;
                  return a6 != b6 ? b6 : a < b;
                });
    }
    std::sort(stations.begin(), stations.end(),
              [](const auto& a, const auto& b) { return a.Name < b.Name; });
    return stations;
  }

  void Changed() {
    changed = true;
    news.notify_all();
  }

  static void Watched(gensio_mdns_watch*, gensio_mdns_data_state event, int interface, int ipdomain,
                      const char* name, const char*, const char*, const char* host,
                      const gensio_addr* address, const char* const* txt, void* data) {
    auto* shared = static_cast<TShared*>(data);
    std::lock_guard lock(shared->mutex);
    if (event == GENSIO_MDNS_ALL_FOR_NOW) {
      if (shared->state == TState::Looking) shared->state = TState::Settled;
      shared->Changed();
      return;
    }
    if (!name) return;
    auto& records = shared->records;
    const auto same = [&](const TRecord& record) {
      return record.Interface == interface && record.IpDomain == ipdomain &&
             record.Station.Name == name;
    };
    records.erase(std::remove_if(records.begin(), records.end(), same), records.end());
    if (event == GENSIO_MDNS_NEW_DATA && host && address) {
      TGensioStack stack;
      for (const char* const* entry = txt; entry && *entry; ++entry) {
        const std::string_view field = *entry;
        if (field.starts_with("gensiostack=")) stack = ParseGensioStack(field.substr(12));
      }
      TRecord record{interface, ipdomain, {name, host, 0, stack.Tls, {}}};
      const std::string text = AddressText(address, record.Station.Port);
      if (!text.empty()) record.Station.Addresses.push_back(text);
      if (stack.Rfc2217 && record.Station.Port != 0) records.push_back(std::move(record));
    }
    shared->Changed();
  }

  static void Released(void* data) {
    auto* shared = static_cast<TShared*>(data);
    std::lock_guard lock(shared->mutex);
    ++shared->released;
    shared->news.notify_all();
  }
};

TStationBrowser::TStationBrowser(TUiHandOver* handOver) : handOver_(handOver) {}

TStationBrowser::~TStationBrowser() {
  Stop();
}

void TStationBrowser::Start() {
  Stop();
  stations_.clear();
  state_ = TState::Looking;
  reason_.clear();
  shared_ = std::make_shared<TShared>();
  const TStationLoop* loop = TStationLoop::Get(shared_->reason);
  if (!loop) {
    state_ = TState::Unavailable;
    reason_ = shared_->reason;
    shared_.reset();
    return;
  }
  shared_->os = loop->Os();
  thread_ = std::thread([this, shared = shared_] {
    gensio_mdns* mdns = nullptr;
    gensio_mdns_watch* watch = nullptr;
    int error = GE_NOMEM;
    try {
      OnLoop(shared->os, [&] {
        error = gensio_alloc_mdns(shared->os, &mdns);
        if (error == 0) {
          error = gensio_mdns_add_watch(mdns, -1, GENSIO_NETTYPE_UNSPEC, nullptr, kServiceType,
                                        nullptr, nullptr, &TShared::Watched, shared.get(), &watch);
        }
      });
    } catch (const std::bad_alloc&) {
      // Nothing was made: the browser says it cannot look, as for any other failure.
    }
    if (error != 0) {
      std::lock_guard lock(shared->mutex);
      shared->state = TState::Unavailable;
      // gensio says "Out of memory" for a missing avahi-daemon: no help to anyone.
      shared->reason = "Stations cannot be looked for here: avahi-daemon is not running";
      shared->changed = true;
    }
    for (;;) {
      {
        std::unique_lock lock(shared->mutex);
        shared->news.wait(lock, [&] { return shared->stopping || shared->changed; });
        if (shared->stopping) break;
        shared->changed = false;
        shared->handingOver = true;
      }
      try {
        handOver_->Synchronize([this] { Deliver(); });
      } catch (...) {
        // The window reports its own failures; the watch goes on.
      }
      {
        std::lock_guard lock(shared->mutex);
        shared->handingOver = false;
      }
      shared->finishedSignal.notify_all();
    }
    int expected = 0;
    const auto release = [&] {
      if (watch && gensio_mdns_remove_watch(
                       watch, [](gensio_mdns_watch*, void* data) { TShared::Released(data); },
                       shared.get()) == 0)
        ++expected;
      if (mdns &&
          gensio_free_mdns(
              mdns, [](gensio_mdns*, void* data) { TShared::Released(data); }, shared.get()) == 0)
        ++expected;
    };
    bool handedToLoop = true;
    try {
      OnLoop(shared->os, release);
    } catch (const std::bad_alloc&) {
      handedToLoop = false;
    }
    std::unique_lock lock(shared->mutex);
    if (!handedToLoop ||
        !shared->news.wait_for(lock, kReleaseBound, [&] { return shared->released >= expected; })) {
      // gensio may still call back into what it was given: that stays, for the program's life.
      new std::shared_ptr<TShared>(shared);
    }
    shared->finished = true;
    shared->finishedSignal.notify_all();
  });
}

void TStationBrowser::Stop() {
  if (!shared_) return;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
  }
  shared_->news.notify_all();
  // Once stopping is set the thread starts no hand-over; one already begun waits for this
  // thread, which serves it (the call finds the browser stopped) until the thread is out of it.
  const bool serves = handOver_ && handOver_->InUiThread();
  std::unique_lock lock(shared_->mutex);
  while (!shared_->finished) {
    if (serves && shared_->handingOver) {
      lock.unlock();
      handOver_->ProcessPendingEvents();
      lock.lock();
      continue;
    }
    shared_->finishedSignal.wait(lock);
  }
  lock.unlock();
  thread_.join();
  shared_.reset();
}

void TStationBrowser::Deliver() {
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->stopping) return;
    stations_ = shared_->Grouped();
    state_ = shared_->state;
    reason_ = shared_->reason;
  }
  if (OnChange) OnChange();
}
