#include "platform/linux/x11/x11_clipboard.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "platform/linux/process/child_process.h"

namespace tovrin {
namespace {

struct Atoms {
  Atom clipboard, targets, utf8, text, property;
  explicit Atoms(Display* d)
      : clipboard(XInternAtom(d, "CLIPBOARD", False)),
        targets(XInternAtom(d, "TARGETS", False)),
        utf8(XInternAtom(d, "UTF8_STRING", False)),
        text(XInternAtom(d, "TEXT", False)),
        property(XInternAtom(d, "TOVRIN_CLIPBOARD", False)) {}
};

// The owner's loop: answer every request for the selection until another
// program takes it.
[[noreturn]] void serve(Display* d, const Atoms& atoms, const std::string& text) {
  for (;;) {
    XEvent event;
    XNextEvent(d, &event);
    if (event.type == SelectionClear) _exit(0);
    if (event.type != SelectionRequest) continue;
    const XSelectionRequestEvent& request = event.xselectionrequest;
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = request.display;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.time = request.time;
    reply.property = request.property != None ? request.property : request.target;
    if (request.target == atoms.targets) {
      Atom offered[] = {atoms.targets, atoms.utf8, atoms.text, XA_STRING};
      XChangeProperty(d, request.requestor, reply.property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<unsigned char*>(offered), 4);
    } else if (request.target == atoms.utf8 || request.target == atoms.text ||
               request.target == XA_STRING) {
      XChangeProperty(d, request.requestor, reply.property, atoms.utf8, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size()));
    } else {
      reply.property = None;  // a kind of data we do not have
    }
    XSendEvent(d, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
    XFlush(d);
  }
}

}  // namespace

void X11Clipboard::setString(const std::string& text) {
  lastCopy_ = false;
  int ready[2];
  if (pipe(ready) != 0) return;
  const pid_t child = fork();
  if (child < 0) {
    close(ready[0]);
    close(ready[1]);
    return;
  }
  if (child == 0) {
    close(ready[0]);
    // A second fork, so nobody has to wait for it; then its own session,
    // so it outlives the command and ignores its Ctrl-C, holding none of
    // the caller's streams.
    if (fork() != 0) _exit(0);
    ChildProcess::detachFromCaller({ready[1]});
    signal(SIGHUP, SIG_IGN);
    // When the X server goes, Xlib would call exit(): in a fork of a
    // threaded process that runs the parent's exit handlers and static
    // destructors, with its other threads missing. Leave plainly instead.
    XSetIOErrorHandler([](Display*) -> int { _exit(0); });
    Display* d = XOpenDisplay(nullptr);
    char ok = 0;
    if (d) {
      Atoms atoms(d);
      Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
      XSetSelectionOwner(d, atoms.clipboard, w, CurrentTime);
      ok = XGetSelectionOwner(d, atoms.clipboard) == w ? 1 : 0;
      (void)!write(ready[1], &ok, 1);
      close(ready[1]);
      if (ok) serve(d, atoms, text);
    } else {
      (void)!write(ready[1], &ok, 1);
    }
    _exit(1);
  }
  close(ready[1]);
  waitpid(child, nullptr, 0);  // the first child leaves at once
  pollfd fd{ready[0], POLLIN, 0};
  char ok = 0;
  if (poll(&fd, 1, 3000) == 1 && read(ready[0], &ok, 1) == 1) lastCopy_ = ok == 1;
  close(ready[0]);
}

std::optional<std::string> X11Clipboard::string() {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return std::nullopt;
  Atoms atoms(d);
  Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  XConvertSelection(d, atoms.clipboard, atoms.utf8, atoms.property, w, CurrentTime);
  XFlush(d);
  std::optional<std::string> out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < deadline) {
    if (XPending(d) == 0) {
      pollfd fd{ConnectionNumber(d), POLLIN, 0};
      poll(&fd, 1, 50);
      continue;
    }
    XEvent event;
    XNextEvent(d, &event);
    if (event.type != SelectionNotify) continue;
    if (event.xselection.property == None) break;  // nobody owns it, or no text
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, atoms.property, 0, 0x7fffffff / 4, True, AnyPropertyType, &type,
                           &format, &count, &after, &data) == Success) {
      if (data && format == 8) out = std::string(reinterpret_cast<char*>(data), count);
      if (data) XFree(data);
    }
    break;
  }
  XDestroyWindow(d, w);
  XCloseDisplay(d);
  return out;
}

}  // namespace tovrin
