// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// gensio's one OS handler of the process, shared by the network ports and the station browser.
#include "station/GensioOs.h"

#include <gensio/gensio.h>
#include <gensio/gensio_os_funcs.h>
#include <signal.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "serial/Trace.h"

namespace {

// gensio's complaints name no connection, so they decide nothing: they go to the support trace.
void TraceLog(struct gensio_os_funcs*, enum gensio_log_levels, const char* log, va_list args) {
  if (!TTrace::On(TTraceArea::Network)) return;
  char text[512];
  std::vsnprintf(text, sizeof text, log, args);
  TTrace::Print(TTraceArea::Network, "gensio: %s", text);
}

void IgnoreSignal(int) {}

}  // namespace

gensio_os_funcs* TGensioOs::Get(std::string& reason) {
  static gensio_os_funcs* funcs = nullptr;
  static int error = 0;
  static std::once_flag once;
  std::call_once(once, [] {
    // gensio wakes its waiting threads with SIGUSR1, whose default action would end the program.
    struct sigaction current {};
    if (sigaction(SIGUSR1, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      struct sigaction quiet {};
      quiet.sa_handler = IgnoreSignal;
      quiet.sa_flags = SA_RESTART;
      sigemptyset(&quiet.sa_mask);
      sigaction(SIGUSR1, &quiet, nullptr);
    }
    error = gensio_default_os_hnd(SIGUSR1, &funcs);
    if (error == 0) gensio_os_funcs_set_vlog(funcs, TraceLog);
  });
  if (!funcs) reason = std::string("Network layer unavailable: ") + gensio_err_to_str(error);
  return funcs;
}
