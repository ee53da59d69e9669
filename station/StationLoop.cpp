// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The one loop thread waits in gensio for good; nothing else of the process waits in gensio, so
// only it may take gensio's wake signal.
#include "station/StationLoop.h"

#include <gensio/gensio.h>
#include <gensio/gensio_os_funcs.h>
#include <pthread.h>
#include <signal.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "serial/NetworkPorts.h"
#include "serial/Trace.h"
#include "serial/posix/WriteAbort.h"

namespace {

// gensio's complaints name no connection, so they decide nothing: they go to the support trace.
void TraceLog(struct gensio_os_funcs*, enum gensio_log_levels, const char* log, va_list args) {
  if (!TTrace::On(TTraceArea::Network)) return;
  char text[512];
  std::vsnprintf(text, sizeof text, log, args);
  TTrace::Print(TTraceArea::Network, "gensio: %s", text);
}

void IgnoreSignal(int) {}

TStationLoop* theLoop = nullptr;

}  // namespace

TStationLoop* TStationLoop::Get(std::string& reason) {
  static int error = 0;
  static std::once_flag once;
  std::call_once(once, [] {
    // gensio wakes its waiting thread with SIGUSR1, whose default action would end the program.
    struct sigaction current {};
    if (sigaction(SIGUSR1, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      struct sigaction quiet {};
      quiet.sa_handler = IgnoreSignal;
      quiet.sa_flags = SA_RESTART;
      sigemptyset(&quiet.sa_mask);
      sigaction(SIGUSR1, &quiet, nullptr);
    }
    gensio_os_funcs* os = nullptr;
    error = gensio_default_os_hnd(SIGUSR1, &os);
    if (error != 0) return;
    gensio_os_funcs_set_vlog(os, TraceLog);
    // Never freed: its thread waits in gensio until the process ends.
    theLoop = new TStationLoop(os);
    SetOpenCancelListener([] { theLoop->WakeAll(); });
  });
  if (!theLoop) reason = std::string("Network layer unavailable: ") + gensio_err_to_str(error);
  return theLoop;
}

TStationLoop::TStationLoop(gensio_os_funcs* os) : os_(os) {
  // AbortSerialWrites, being safe in a signal handler, can only make this descriptor readable.
  const int abortFd = WriteAbortDescriptor();
  if (abortFd >= 0 && os_->add_iod(os_, GENSIO_IOD_PIPE, abortFd, &abort_) == 0) {
    if (os_->set_fd_handlers(abort_, this, &TStationLoop::Aborted, nullptr, nullptr, nullptr) ==
        0) {
      os_->set_read_handler(abort_, true);
    } else {
      os_->release_iod(abort_);
      abort_ = nullptr;
    }
  }
  thread_ = std::thread([this] { Run(); });
  thread_.detach();
}

void TStationLoop::Run() {
  // A dead connection must not end the program with SIGPIPE.
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  sigaddset(&blocked, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
  gensio_waiter* never = gensio_os_funcs_alloc_waiter(os_);
  for (;;) gensio_os_funcs_wait(os_, never, 1, nullptr);
}

void TStationLoop::Aborted(gensio_iod*, void* data) {
  auto* loop = static_cast<TStationLoop*>(data);
  // The abort is for good and its descriptor stays readable.
  loop->os_->set_read_handler(loop->abort_, false);
  loop->WakeAll();
}

int TStationLoop::Listen(std::function<void()> wake) {
  TMutexLock lock(mutex_);
  listeners_.emplace(++nextId_, std::move(wake));
  return nextId_;
}

void TStationLoop::Forget(int id) {
  TMutexLock lock(mutex_);
  listeners_.erase(id);
}

void TStationLoop::WakeAll() {
  TMutexLock lock(mutex_);
  for (const auto& [id, wake] : listeners_) wake();
}
