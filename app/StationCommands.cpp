// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The station commands: the port directory's stations through TStationDirectory, the local
// network's through TStationBrowser, handed over to the waiting main thread.
#include "app/StationCommands.h"

#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <optional>

#include "app/StationDirectory.h"
#include "serial/UiHandOver.h"
#include "station/NetworkAddress.h"
#include "station/StationBrowser.h"
#include "station/StationModule.h"
#include "station/StationPins.h"
#include "station/StationSearch.h"
#include "text/AsciiText.h"

namespace {

// Without a window, the browser's news is taken on its own thread while the main thread waits.
class TWaitingHandOver final : public TUiHandOver {
 public:
  void Synchronize(const std::function<void()>& call) override {
    std::lock_guard lock(mutex_);
    call();
    changed_.notify_all();
  }
  bool InUiThread() const override { return false; }
  void ProcessPendingEvents() override {}
  // Waits until the condition holds (checked under the hand-over's lock) or the time is up.
  bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, bound, condition);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
};

// Only that a certificate is pinned for the name and port: an announcement may lead elsewhere,
// and the connection checks the certificate there.
std::string Pin(const TStationEntry& entry) {
  if (!entry.Tls) return "-";
  return entry.Pinned.empty() ? "not pinned" : "pinned " + ShortFingerprint(entry.Pinned);
}

// Names and addresses come from files and from the network: one that holds a tab or a line end
// would forge a row, an escape sequence would rewrite the terminal.
void PrintLine(std::FILE* out, const TStationEntry& entry, const std::string& origin) {
  const std::string fields[] = {entry.Name, entry.Shown, entry.Tls ? "TLS" : "plain", Pin(entry),
                                origin};
  std::string line;
  for (const std::string& field : fields)
    line += (line.empty() ? "" : "\t") + EscapeControls(field);
  std::fprintf(out, "%s\n", line.c_str());
}

int ListStations(std::FILE* out, std::FILE* err, std::chrono::milliseconds lookFor) {
  const TStationDirectory directory;
  std::vector<TStationEntry> entries;
  std::string reason;
  if (!directory.Entries(entries, reason)) std::fprintf(err, "orvel: %s\n", reason.c_str());
  for (const TStationEntry& entry : entries) PrintLine(out, entry, "listed");

  TStationModule* stations = StationModule(reason);
  if (!stations) {
    std::fprintf(err, "orvel: %s\n", reason.c_str());
    std::fflush(out);
    return 1;
  }
  // Someone at a terminal is told why nothing comes for a while; a script reads no more.
  if (::isatty(::fileno(err)))
    std::fprintf(err, "Looking for stations on the local network for %g s...\n",
                 static_cast<double>(lookFor.count()) / 1000);
  TWaitingHandOver handOver;
  const std::unique_ptr<TStationSearch> browser = stations->NewSearch(&handOver);
  bool unavailable = false;
  browser->OnChange = [&] {
    unavailable = browser->State() == TStationBrowser::TState::Unavailable;
  };
  browser->Start();
  // Announcements come in over a moment: the whole time is waited unless there is no mDNS here.
  handOver.WaitUntil([&] { return unavailable; }, lookFor);
  browser->Stop();
  if (browser->State() == TStationBrowser::TState::Unavailable) {
    std::fprintf(err, "orvel: %s\n", browser->Reason().c_str());
    return std::fflush(out) == 0 ? 0 : 1;
  }
  const TStationPins pins;
  for (const TFoundStation& station : browser->Stations()) {
    TStationEntry entry;
    entry.Name = station.Name;
    entry.Tls = station.Tls;
    const std::optional<TNetworkAddress> named =
        TNetworkAddress::FromHost(station.Host, station.Port, TNetworkKind::Rfc2217, reason);
    if (named) entry.Station = named->Station();
    entry.Shown = TStationDirectory::Address(station.Host, station.Port, station.Tls);
    // Trusted under its name or under one of its addresses.
    std::vector<std::string> names{entry.Station};
    for (const std::string& address : station.Addresses)
      names.push_back(TStationDirectory::Address(address, station.Port, false).substr(10));
    for (const std::string& name : names) {
      if (entry.Tls && entry.Pinned.empty()) entry.Pinned = pins.Check(name, "").Pinned;
    }
    std::string addresses;
    for (const std::string& address : station.Addresses) addresses += " " + address;
    PrintLine(out, entry, "found on this network:" + addresses);
  }
  return std::fflush(out) == 0 ? 0 : 1;
}

}  // namespace

int RunStationCommand(const TCommandLine& line, std::FILE* out, std::FILE* err,
                      std::chrono::milliseconds lookFor) {
  using enum TCommandLine::TStationCommand;
  if (line.StationCommand == List) return ListStations(out, err, lookFor);
  const std::vector<std::string>& words = line.StationArguments;
  const TStationDirectory directory;
  std::string reason;
  bool done = false;
  std::string said;
  switch (line.StationCommand) {
    case Add:
      done = directory.Add(words[0], words[1], reason);
      said = "Station " + words[0] + " is listed: " + TNetworkAddress::Masked(words[1]);
      break;
    case Rename:
      done = directory.Rename(words[0], words[1], reason);
      said = "Station " + words[0] + " is now " + words[1];
      break;
    case Remove:
      done = directory.Remove(words[0], reason);
      said = "Station " + words[0] + " is no longer listed";
      break;
    case Forget:
      done = directory.Forget(words[0], reason);
      said = "The certificate of " + words[0] +
             " is forgotten: the next connection shows the station's certificate and asks";
      break;
    default:
      break;
  }
  // The names are the operator's words, which may hold anything.
  if (!done) {
    std::fprintf(err, "orvel: %s\n", EscapeControls(reason).c_str());
    return 1;
  }
  std::fprintf(out, "%s.\n", EscapeControls(said).c_str());
  return std::fflush(out) == 0 ? 0 : 1;
}
