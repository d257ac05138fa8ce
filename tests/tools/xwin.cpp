// xwin: the two things a window manager does for our X tests that xdotool
// cannot do without one.
//
//   xwin wait NAME [SECONDS]  waits until a top-level window titled NAME is
//                             mapped; prints its id. Exit 1 on timeout.
//   xwin close ID             asks the window to close the way a window
//                             manager does: a WM_DELETE_WINDOW message. Never
//                             destroys it or kills its client. Exit 1 when the
//                             window does not take that message.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/select.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace {

struct CloseDisplay {
  void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, CloseDisplay>;

std::string Title(Display* d, Window w) {
  // _NET_WM_NAME is UTF-8 and what Qt keeps up to date; WM_NAME is the fallback.
  const Atom net_wm_name = XInternAtom(d, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(d, w, net_wm_name, 0, 1024, False, utf8, &type, &format, &count, &after,
                         &data) == Success &&
      data != nullptr) {
    if (type == utf8 && format == 8) title.assign(reinterpret_cast<char*>(data), count);
    XFree(data);
    if (!title.empty()) return title;
  }
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name != nullptr) {
    title = name;
    XFree(name);
  }
  return title;
}

// A mapped child of the root titled `name`, or None.
Window FindShown(Display* d, std::string_view name) {
  Window root_return = None, parent = None, *children = nullptr;
  unsigned int count = 0;
  Window found = None;
  if (!XQueryTree(d, DefaultRootWindow(d), &root_return, &parent, &children, &count)) return None;
  for (unsigned int i = 0; i < count && found == None; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(d, children[i], &attributes) && attributes.map_state == IsViewable &&
        Title(d, children[i]) == name) {
      found = children[i];
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

int Wait(Display* d, std::string_view name, double seconds) {
  // Watch the root first, then look: a window mapped in between is not missed.
  XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
  XSync(d, False);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (true) {
    while (XPending(d) > 0) {
      XEvent event;
      XNextEvent(d, &event);
    }
    if (const Window w = FindShown(d, name); w != None) {
      std::printf("%lu\n", w);
      return 0;
    }
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) break;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
    timeval timeout{static_cast<time_t>(us / 1000000), static_cast<suseconds_t>(us % 1000000)};
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(ConnectionNumber(d), &fds);
    select(ConnectionNumber(d) + 1, &fds, nullptr, nullptr, &timeout);
  }
  std::fprintf(stderr, "xwin: no window titled '%.*s' came up\n", static_cast<int>(name.size()),
               name.data());
  return 1;
}

int Close(Display* d, Window w) {
  const Atom protocols = XInternAtom(d, "WM_PROTOCOLS", False);
  const Atom delete_window = XInternAtom(d, "WM_DELETE_WINDOW", False);
  Atom* list = nullptr;
  int count = 0;
  bool takes_it = false;
  if (XGetWMProtocols(d, w, &list, &count)) {
    for (int i = 0; i < count; ++i) takes_it = takes_it || list[i] == delete_window;
    XFree(list);
  }
  if (!takes_it) {
    std::fprintf(stderr, "xwin: window %lu does not take WM_DELETE_WINDOW\n", w);
    return 1;
  }
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = w;
  event.xclient.message_type = protocols;
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(delete_window);
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, w, False, NoEventMask, &event);
  XSync(d, False);
  return 0;
}

int Usage() {
  std::fputs("usage: xwin wait NAME [SECONDS] | xwin close ID\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string_view command = argv[1];
  DisplayPtr display(XOpenDisplay(nullptr));
  if (!display) {
    std::fputs("xwin: cannot open the display\n", stderr);
    return 2;
  }
  if (command == "wait" && argc <= 4) {
    return Wait(display.get(), argv[2], argc == 4 ? std::atof(argv[3]) : 30.0);
  }
  if (command == "close" && argc == 3) {
    return Close(display.get(), static_cast<Window>(std::strtoul(argv[2], nullptr, 0)));
  }
  return Usage();
}
