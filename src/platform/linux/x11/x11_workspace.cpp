#include "platform/linux/x11/x11_workspace.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "platform/linux/process/child_process.h"
#include "platform/linux/process/process_info.h"

namespace tovrin {

namespace {

std::optional<unsigned long> cardinal(Display* d, Window w, const char* name, Atom type) {
  Atom property = XInternAtom(d, name, True);
  if (property == None) return std::nullopt;
  Atom actual = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::optional<unsigned long> out;
  if (XGetWindowProperty(d, w, property, 0, 1, False, type, &actual, &format, &count, &after,
                         &data) == Success &&
      data) {
    if (count == 1 && format == 32) out = *reinterpret_cast<unsigned long*>(data);
    XFree(data);
  }
  return out;
}

std::vector<Window> windowList(Display* d, Window w, const char* name) {
  Atom property = XInternAtom(d, name, True);
  std::vector<Window> out;
  if (property == None) return out;
  Atom actual = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, property, 0, 65536, False, XA_WINDOW, &actual, &format, &count,
                         &after, &data) == Success &&
      data) {
    if (format == 32) {
      auto* list = reinterpret_cast<Window*>(data);
      out.assign(list, list + count);
    }
    XFree(data);
  }
  return out;
}

std::string windowClass(Display* d, Window w) {
  XClassHint hint{nullptr, nullptr};
  std::string out;
  if (XGetClassHint(d, w, &hint)) {
    if (hint.res_class) out = hint.res_class;
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
  }
  return out;
}

// The client window at or below `w` that names its process.
std::optional<std::pair<int32_t, Window>> owningClient(Display* d, Window w, int depth = 0) {
  if (auto pid = cardinal(d, w, "_NET_WM_PID", XA_CARDINAL)) {
    return std::make_pair(static_cast<int32_t>(*pid), w);
  }
  if (depth > 3) return std::nullopt;
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(d, w, &root, &parent, &children, &count)) return std::nullopt;
  std::optional<std::pair<int32_t, Window>> out;
  for (unsigned int i = count; i-- > 0 && !out;)
    out = owningClient(d, children[i], depth + 1);
  if (children) XFree(children);
  return out;
}

int ignoreErrors(Display*, XErrorEvent*) {
  return 0;
}

}  // namespace

std::shared_ptr<X11Workspace> X11Workspace::open(std::string& error) {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) {
    error = "DISPLAY is not set";
    return nullptr;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    error = std::string("cannot open the display ") + name;
    return nullptr;
  }
  // A window that closes between two requests must not end the process.
  XSetErrorHandler(ignoreErrors);
  std::shared_ptr<X11Workspace> ws(new X11Workspace(display));
  ws->displayName_ = name;
  return ws;
}

X11Workspace::X11Workspace(_XDisplay* display) : display_(display) {}

X11Workspace::~X11Workspace() {
  XCloseDisplay(display_);
}

std::optional<RunningApplication> X11Workspace::describe(int32_t pid, const std::string& cls) {
  if (!ProcessInfo::alive(pid)) return std::nullopt;
  ProcessIdentity identity = ProcessInfo::identify(ProcessInfo::executableName(pid), cls);
  return RunningApplication{pid, identity.applicationID, identity.name, false};
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
  std::lock_guard lock(mutex_);
  Window root = DefaultRootWindow(display_);
  std::optional<std::pair<int32_t, Window>> client;
  if (auto active = cardinal(display_, root, "_NET_ACTIVE_WINDOW", XA_WINDOW); active && *active) {
    client = owningClient(display_, static_cast<Window>(*active));
  }
  if (!client) {
    // No window manager: the window with the input focus, or its top-level.
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    for (int i = 0; i < 8 && focus > 1 && focus != root && !client; ++i) {
      client = owningClient(display_, focus);
      Window r = 0, parent = 0;
      Window* children = nullptr;
      unsigned int count = 0;
      if (!XQueryTree(display_, focus, &r, &parent, &children, &count)) break;
      if (children) XFree(children);
      focus = parent;
    }
  }
  if (!client) return std::nullopt;
  return describe(client->first, windowClass(display_, client->second));
}

std::optional<RunningApplication> X11Workspace::runningApplication(int32_t pid) {
  std::string cls;
  {
    std::lock_guard lock(mutex_);
    for (Window w : windowList(display_, DefaultRootWindow(display_), "_NET_CLIENT_LIST")) {
      if (cardinal(display_, w, "_NET_WM_PID", XA_CARDINAL) == static_cast<unsigned long>(pid)) {
        cls = windowClass(display_, w);
        break;
      }
    }
  }
  if (auto app = describe(pid, cls)) return app;
  return RunningApplication{pid, {}, {}, true};
}

void X11Workspace::observeActivations(std::function<void(const RunningApplication&)> handler) {
  // A command started from a terminal finds the terminal in front; the
  // browser the user was in is the one the window manager raised last, so
  // the stacking order stands in for the activations before Tovrin ran:
  // told from the oldest to the newest, the front one last.
  auto history = windowApplications();
  for (auto it = history.rbegin(); it != history.rend(); ++it)
    handler(*it);
  observers_.push_back(std::move(handler));
}

void X11Workspace::pollActivations() {
  auto front = frontmostApplication();
  std::optional<int32_t> pid = front ? std::optional<int32_t>(front->pid) : std::nullopt;
  if (pid == lastActive_) return;
  lastActive_ = pid;
  if (!front) return;
  for (const auto& observer : observers_)
    observer(*front);
}

void X11Workspace::openPrivacySettings() {
  // Desktops keep the assistive-technology switch in their accessibility
  // settings; GNOME's is the one with a command to open it.
  std::string error;
  ChildProcess::startDetached({"gnome-control-center", "universal-access"}, error);
}

bool X11Workspace::activate(int32_t pid) {
  std::lock_guard lock(mutex_);
  Window root = DefaultRootWindow(display_);
  std::optional<Window> target;
  for (Window w : windowList(display_, root, "_NET_CLIENT_LIST_STACKING")) {
    if (cardinal(display_, w, "_NET_WM_PID", XA_CARDINAL) == static_cast<unsigned long>(pid)) {
      target = w;  // the last one listed is the top-most of its windows
    }
  }
  if (!target) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = *target;
  event.xclient.message_type = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] =
      2;  // from a pager: the window manager obeys without focus-stealing rules
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
  // Activation need not raise; keys go to the active window but clicks and
  // hit-testing go to the top-most one, so ask for both.
  XEvent restack{};
  restack.xclient.type = ClientMessage;
  restack.xclient.window = *target;
  restack.xclient.message_type = XInternAtom(display_, "_NET_RESTACK_WINDOW", False);
  restack.xclient.format = 32;
  restack.xclient.data.l[0] = 2;
  restack.xclient.data.l[1] = None;
  restack.xclient.data.l[2] = Above;
  XSendEvent(display_, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &restack);
  XFlush(display_);
  // Verify: the window manager acts asynchronously. Tovrin's own windows
  // (the palette, an outline) are kept above all others and do not count:
  // with them over it the browser is still the top-most of the rest.
  const auto self = static_cast<unsigned long>(::getpid());
  for (int i = 0; i < 50; ++i) {
    auto active = cardinal(display_, root, "_NET_ACTIVE_WINDOW", XA_WINDOW);
    std::vector<Window> stacking = windowList(display_, root, "_NET_CLIENT_LIST_STACKING");
    while (!stacking.empty() && stacking.back() != *target &&
           cardinal(display_, stacking.back(), "_NET_WM_PID", XA_CARDINAL) == self)
      stacking.pop_back();
    const bool onTop = stacking.empty() || stacking.back() == *target;
    if (active && *active == *target && onTop) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

bool X11Workspace::openURLs(const std::vector<std::string>& urls, const std::string& bundleID) {
  return ProcessInfo::openURLs(urls, bundleID, windowApplications());
}

std::optional<int32_t> X11Workspace::pidAtPoint(double x, double y) {
  std::lock_guard lock(mutex_);
  Window root = DefaultRootWindow(display_);
  std::vector<Window> stacking = windowList(display_, root, "_NET_CLIENT_LIST_STACKING");
  auto contains = [&](Window w) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display_, w, &attributes) || attributes.map_state != IsViewable) {
      return false;
    }
    int wx = 0, wy = 0;
    Window child = 0;
    XTranslateCoordinates(display_, w, root, 0, 0, &wx, &wy, &child);
    return x >= wx && y >= wy && x < wx + attributes.width && y < wy + attributes.height;
  };
  for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
    if (!contains(*it)) continue;
    if (auto pid = cardinal(display_, *it, "_NET_WM_PID", XA_CARDINAL))
      return static_cast<int32_t>(*pid);
  }
  // No window manager list: the top-most mapped child of the root.
  Window r = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  std::optional<int32_t> out;
  if (XQueryTree(display_, root, &r, &parent, &children, &count)) {
    for (unsigned int i = count; i-- > 0 && !out;) {
      if (!contains(children[i])) continue;
      if (auto client = owningClient(display_, children[i])) out = client->first;
    }
    if (children) XFree(children);
  }
  return out;
}

std::vector<RunningApplication> X11Workspace::windowApplications() {
  std::vector<std::pair<int32_t, std::string>> found;
  {
    std::lock_guard lock(mutex_);
    auto stacking = windowList(display_, DefaultRootWindow(display_), "_NET_CLIENT_LIST_STACKING");
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
      auto pid = cardinal(display_, *it, "_NET_WM_PID", XA_CARDINAL);
      if (!pid) continue;
      const auto p = static_cast<int32_t>(*pid);
      if (std::none_of(found.begin(), found.end(), [&](const auto& f) { return f.first == p; })) {
        found.emplace_back(p, windowClass(display_, *it));
      }
    }
  }
  std::vector<RunningApplication> out;
  for (const auto& [pid, cls] : found) {
    if (auto app = describe(pid, cls)) out.push_back(*app);
  }
  return out;
}

namespace {

// A channel of a TrueColor pixel, scaled to 8 bits.
unsigned char channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (((mask >> shift) & 1UL) == 0)
    ++shift;
  const unsigned long max = mask >> shift;
  return static_cast<unsigned char>(((pixel & mask) >> shift) * 255 / max);
}

bool writePNG(const std::string& path, int width, int height, const std::vector<unsigned char>& rgb,
              std::string& error) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    error = path + ": cannot be written";
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = png && info;
  // libpng reports failures by longjmp; nothing with a destructor lives
  // between here and the end of the writing.
  if (ok && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
      png_write_row(png, rgb.data() + static_cast<std::size_t>(y) * width * 3);
    png_write_end(png, nullptr);
  } else {
    ok = false;
  }
  png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
  if (std::fclose(file) != 0) ok = false;
  if (!ok) {
    error = path + ": the picture could not be written";
    std::remove(path.c_str());
  }
  return ok;
}

}  // namespace

namespace {
const std::atomic<bool>* displayStopping = nullptr;
}  // namespace

void X11Workspace::holdWhenDisplayLost(const std::atomic<bool>& stopping) {
  displayStopping = &stopping;
  XSetIOErrorHandler([](Display* display) -> int {
    if (displayStopping != nullptr && displayStopping->load()) {
      for (;;)
        pause();
    }
    std::fprintf(stderr, "X connection to %s broken\n", DisplayString(display));
    std::_Exit(1);
  });
}

std::optional<Frame> X11Workspace::windowFrame(int32_t pid) {
  std::lock_guard lock(mutex_);
  return topWindowFrame(pid);
}

std::optional<Frame> X11Workspace::topWindowFrame(int32_t pid) {
  Window root = DefaultRootWindow(display_);
  auto stacking = windowList(display_, root, "_NET_CLIENT_LIST_STACKING");
  for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
    if (cardinal(display_, *it, "_NET_WM_PID", XA_CARDINAL) != static_cast<unsigned long>(pid))
      continue;
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display_, *it, &attributes) || attributes.map_state != IsViewable)
      continue;
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display_, *it, root, 0, 0, &x, &y, &child);
    return Frame{static_cast<double>(x), static_cast<double>(y),
                 static_cast<double>(attributes.width), static_cast<double>(attributes.height)};
  }
  return std::nullopt;
}

bool X11Workspace::screenshot(int32_t pid, const std::string& path, std::string& error) {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  {
    std::lock_guard lock(mutex_);
    Window root = DefaultRootWindow(display_);
    XWindowAttributes screen{};
    XGetWindowAttributes(display_, root, &screen);
    int x = 0, y = 0;
    width = screen.width;
    height = screen.height;
    // The process's top-most window as the screen shows it; the whole
    // screen when it has none.
    if (auto frame = topWindowFrame(pid)) {
      x = static_cast<int>(frame->x);
      y = static_cast<int>(frame->y);
      const int right = std::min(x + static_cast<int>(frame->width), screen.width);
      const int bottom = std::min(y + static_cast<int>(frame->height), screen.height);
      x = std::max(x, 0);
      y = std::max(y, 0);
      width = right - x;
      height = bottom - y;
    }
    if (width <= 0 || height <= 0) {
      error = "the window is off the screen";
      return false;
    }
    XImage* image = XGetImage(display_, root, x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image) {
      error = "the screen could not be read";
      return false;
    }
    rgb.resize(static_cast<std::size_t>(width) * height * 3);
    std::size_t at = 0;
    for (int row = 0; row < height; ++row) {
      for (int col = 0; col < width; ++col) {
        const unsigned long pixel = XGetPixel(image, col, row);
        rgb[at++] = channel(pixel, image->red_mask);
        rgb[at++] = channel(pixel, image->green_mask);
        rgb[at++] = channel(pixel, image->blue_mask);
      }
    }
    XDestroyImage(image);
  }
  return writePNG(path, width, height, rgb, error);
}

}  // namespace tovrin
