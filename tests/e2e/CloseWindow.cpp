// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// orvel-e2e-close-window: asks a top-level window to close the way a window manager's close
// button does (the WM_DELETE_WINDOW protocol), for end-to-end runs on a bare X server.
#include <X11/Xlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

bool AcceptsDelete(Display* display, Window window, Atom deleteWindow) {
  Atom* protocols = nullptr;
  int count = 0;
  if (XGetWMProtocols(display, window, &protocols, &count) == 0) return false;
  bool found = false;
  for (int i = 0; i < count; ++i) found = found || protocols[i] == deleteWindow;
  XFree(protocols);
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: orvel-e2e-close-window WINDOW-ID\n");
    return 2;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long id = std::strtoul(argv[1], &end, 0);
  if (errno != 0 || end == argv[1] || *end != '\0' || id == 0) {
    std::fprintf(stderr, "orvel-e2e-close-window: not a window id: %s\n", argv[1]);
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "orvel-e2e-close-window: cannot open the display\n");
    return 1;
  }
  const auto window = static_cast<Window>(id);
  const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  // A window that does not take part in the protocol would be killed by a window manager;
  // that is not what a test of a clean close wants to see.
  if (!AcceptsDelete(display, window, deleteWindow)) {
    std::fprintf(stderr, "orvel-e2e-close-window: window %s does not accept WM_DELETE_WINDOW\n",
                 argv[1]);
    XCloseDisplay(display);
    return 1;
  }
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = protocols;
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(deleteWindow);
  event.xclient.data.l[1] = CurrentTime;
  const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
  if (sent == 0) {
    std::fprintf(stderr, "orvel-e2e-close-window: the close request was not sent\n");
    return 1;
  }
  return 0;
}
