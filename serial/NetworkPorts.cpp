// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
#include "serial/NetworkPorts.h"

#include <atomic>
#include <mutex>

#include "serial/SerialProcess.h"

namespace {

std::mutex portsMutex;
std::shared_ptr<TNetworkPorts> handedIn;
std::atomic<void (*)()> cancelListener = nullptr;

}  // namespace

void UseNetworkPorts(std::shared_ptr<TNetworkPorts> ports) {
  std::lock_guard lock(portsMutex);
  handedIn = std::move(ports);
}

std::shared_ptr<TNetworkPorts> NetworkPorts() {
  std::lock_guard lock(portsMutex);
  return handedIn;
}

bool IsNetworkAddress(std::string_view name) {
  const std::shared_ptr<TNetworkPorts> ports = NetworkPorts();
  return ports && ports->IsAddress(name);
}

std::string ShownPortName(std::string_view name) {
  const std::shared_ptr<TNetworkPorts> ports = NetworkPorts();
  return ports ? ports->Shown(name) : std::string(name);
}

void NotifyOpenCancelled() {
  if (void (*listener)() = cancelListener.load()) listener();
}

void SetOpenCancelListener(void (*listener)()) {
  if (const TSerialProcess* program = SharedSerialProcess()) {
    program->SetOpenCancelListener(listener);
    return;
  }
  cancelListener = listener;
}
