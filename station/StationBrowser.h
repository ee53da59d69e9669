// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The stations that announce themselves on the local network (mDNS, as ser2net does with
// `mdns: true`), watched while someone looks. An announcement says where a station is, nothing
// more: the station's certificate is checked when it is reached, as for any address.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class TUiHandOver;

struct TFoundStation {
  // The name it announces (ser2net's mdns-name).
  std::string Name;
  // Its host's mDNS name (shack.local).
  std::string Host;
  unsigned Port = 0;
  bool Tls = false;
  // The addresses announced for it, IPv4 first; link-local IPv6 addresses, which need an
  // interface to be reached, are left out.
  std::vector<std::string> Addresses;

  bool operator==(const TFoundStation&) const = default;
};

// What a station's gensiostack record says: RFC 2217 first ("telnet(rfc2217),tcp"), and
// whether TLS is in the stack ("telnet(rfc2217),ssl,tcp").
struct TGensioStack {
  bool Rfc2217 = false;
  bool Tls = false;
};
TGensioStack ParseGensioStack(std::string_view stack);

class TStationBrowser {
 public:
  enum class TState {
    // Asking the local mDNS service for what is announced.
    Looking,
    // Everything announced so far is in the list; later announcements still arrive.
    Settled,
    // No mDNS here (no avahi-daemon, no system bus): Reason() says why.
    Unavailable
  };

  // Changes are handed to the user-interface thread through `handOver`.
  explicit TStationBrowser(TUiHandOver* handOver);
  // Stops.
  ~TStationBrowser();
  TStationBrowser(const TStationBrowser&) = delete;
  TStationBrowser& operator=(const TStationBrowser&) = delete;

  // Starts watching in the background: the window does not wait for the mDNS service.
  void Start();
  // Stops watching; no OnChange runs once it has returned. Call it on the user-interface thread,
  // not from OnChange.
  void Stop();

  // Runs on the user-interface thread after the list or the state changed.
  std::function<void()> OnChange;
  // The RFC 2217 stations found, sorted by name, as of the last OnChange.
  const std::vector<TFoundStation>& Stations() const { return stations_; }
  TState State() const { return state_; }
  // Why no station can be found here (Unavailable).
  const std::string& Reason() const { return reason_; }

  struct TShared;

 private:
  void Deliver();

  TUiHandOver* const handOver_;
  // What gensio's callbacks and the browser's thread share; it outlives the browser when gensio
  // never confirms that the watch is let go.
  std::shared_ptr<TShared> shared_;
  std::thread thread_;
  std::vector<TFoundStation> stations_;
  TState state_ = TState::Looking;
  std::string reason_;
};
