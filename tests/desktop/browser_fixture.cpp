#include "desktop/browser_fixture.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "accessibility/browser.h"
#include "content/page_snapshot.h"
#include "platform/linux/process/browser_launch.h"
#include "platform/linux/process/child_process.h"
#include "platform/linux/x11/x11_typist.h"

namespace tovrin::testing {
namespace {

std::string scratch() {
  const char* dir = std::getenv("TOVRIN_DESKTOP_DIR");
  return dir ? dir : "/tmp";
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

double now() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

int counter = 0;

}  // namespace

const char* browserLabel(BrowserKind kind) {
  // The display name without its spaces, as a test's name must be.
  static const std::map<BrowserKind, std::string> labels = [] {
    std::map<BrowserKind, std::string> out;
    for (BrowserKind k : kEveryBrowser) {
      std::string name = displayName(k);
      std::erase(name, ' ');
      out[k] = name;
    }
    return out;
  }();
  return labels.at(kind).c_str();
}

LinuxDesktop& desktop() {
  static std::shared_ptr<LinuxDesktop> opened = [] {
    auto d = LinuxDesktop::open({});
    if (auto* error = std::get_if<std::string>(&d)) {
      std::fprintf(stderr, "desktop tests: %s\n", error->c_str());
      std::abort();
    }
    return std::get<std::shared_ptr<LinuxDesktop>>(d);
  }();
  return *opened;
}

PageState pageState() {
  ProcessResult r = runTovrin({"snapshot", "--json"});
  PageState state;
  auto j = nlohmann::json::parse(r.out, nullptr, false);
  if (j.is_discarded()) return state;
  state.title = j.value("pageTitle", "");
  state.url = j.value("url", "");
  for (const auto& line : j["lines"])
    state.lines.push_back(line.value("text", ""));
  return state;
}

PageState waitForPage(const std::function<bool(const PageState&)>& holds) {
  PageState state;
  for (int i = 0; i < 40; ++i) {
    state = pageState();
    if (holds(state)) return state;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return state;
}

std::string pageURL(const std::string& name) {
  const char* source = std::getenv("TOVRIN_SOURCE_DIR");
  return std::string("file://") + (source ? source : ".") + "/tests/pages/" + name;
}

namespace {

// Links are opened in bulk only when they are web addresses, so the pages
// that test it are served over HTTP on the loopback interface.
class PageServer {
 public:
  // `site`: a saved web application under tests/pages, served at its own
  // addresses; empty: tests/pages as plain files.
  explicit PageServer(const std::string& site = {}) {
    const char* source = std::getenv("TOVRIN_SOURCE_DIR");
    const std::string pages = std::string(source ? source : ".") + "/tests/pages";
    const std::string log = scratch() + "/pages-" + std::to_string(getpid()) +
                            (site.empty() ? "" : "-" + site) + ".log";
    if (site.empty()) {
      pid_ = ChildProcess::spawn(
          {"python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", pages},
          log);
    } else {
      pid_ = ChildProcess::spawn(
          {"python3", "-u", std::string(source ? source : ".") + "/tests/desktop/saved-site.py",
           pages + "/" + site},
          log);
    }
    for (int i = 0; i < 200 && port_.empty(); ++i) {
      const std::string text = readFile(log);
      auto at = text.find(" port ");
      if (at != std::string::npos) {
        auto end = text.find_first_not_of("0123456789", at + 6);
        port_ = text.substr(at + 6, end - at - 6);
      }
      if (port_.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~PageServer() { ChildProcess::stopGroup(pid_, std::chrono::seconds(2)); }
  [[nodiscard]] const std::string& port() const { return port_; }

 private:
  pid_t pid_ = 0;
  std::string port_;
};

}  // namespace

std::string servedPageURL(const std::string& name) {
  static PageServer server;
  return "http://127.0.0.1:" + server.port() + "/" + name;
}

std::string savedSiteURL(const std::string& site, const std::string& path) {
  static std::map<std::string, std::unique_ptr<PageServer>> servers;
  auto& server = servers[site];
  if (!server) server = std::make_unique<PageServer>(site);
  return "http://127.0.0.1:" + server->port() + path;
}

ProcessResult runTovrin(const std::vector<std::string>& args, const std::string& input,
                        const std::vector<std::string>& wrapper) {
  const std::string base =
      scratch() + "/run-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
  const std::string outPath = base + ".out", errPath = base + ".err", inPath = base + ".in";
  std::ofstream(inPath) << input;
  const double start = now();
  pid_t pid = fork();
  if (pid == 0) {
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = ::open(inPath.c_str(), O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    std::string binary = TOVRIN_BINARY;
    for (const std::string& w : wrapper)
      argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(binary.data());
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  ProcessResult result;
  result.seconds = now() - start;
  result.maxResidentKB = usage.ru_maxrss;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  std::remove(inPath.c_str());
  return result;
}

std::unique_ptr<Browser> Browser::start(BrowserKind kind, const std::string& url, Options options) {
  const std::string profile = scratch() + "/" + familyName(kind) + "-" + std::to_string(getpid()) +
                              "-" + std::to_string(++counter);
  auto argv = launchCommand({.family = kind,
                             .profileDir = profile,
                             .url = url,
                             .accessibilityFlag = options.accessibilityFlag,
                             .privateInstance = options.privateInstance});
  if (options.allowPopups && !argv.empty()) {
    // Each browser's own switch for its popup blocker, in the fresh profile.
    if (kind == BrowserKind::chromium) {
      argv.insert(argv.end() - 1, "--disable-popup-blocking");
    } else if (kind == BrowserKind::firefox) {
      std::ofstream(profile + "/user.js", std::ios::app)
          << "user_pref(\"dom.disable_open_during_load\", false);\n";
    } else {
      std::ofstream(profile + "/config/glib-2.0/settings/keyfile", std::ios::app)
          << "\n[org/gnome/epiphany/web]\nenable-popups=true\n";
    }
  }
  pid_t pid = argv.empty() ? 0 : ChildProcess::spawn(argv, profile + ".log");
  if (pid <= 0) return nullptr;
  return std::unique_ptr<Browser>(new Browser(kind, pid));
}

Browser::~Browser() {
  ChildProcess::stopGroup(pid_, std::chrono::seconds(5));
}

bool Browser::waitForWindow(double seconds) {
  const double deadline = now() + seconds;
  while (now() < deadline) {
    if (desktop().accessibility().treeAccess(pid_) != TreeAccess::notOnBus &&
        desktop().accessibility().treeAccess(pid_) != TreeAccess::noWindow) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

bool Browser::waitUntilShows(const std::string& text, double seconds) {
  const double deadline = now() + seconds;
  Platform platform = desktop().platform();
  while (now() < deadline) {
    auto app = platform.workspace->runningApplication(pid_);
    const BrowserAdapter* adapter = app ? BrowserRegistry::adapter(app->bundleID) : nullptr;
    if (adapter) {
      BrowserTarget target{platform, *app, adapter};
      if (auto snap = PageSnapshot::capture(target); snap && snap->webArea) {
        for (const PageLine& line : snap->lines) {
          if (line.text.find(text) != std::string::npos) return front();
        }
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  return false;
}

bool Browser::front() {
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (desktop().workspace()->activate(pid_)) {
      auto front = desktop().workspace()->frontmostApplication();
      if (front && front->pid == pid_) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

void Browser::pause() {
  kill(-pid_, SIGSTOP);
}
void Browser::resume() {
  kill(-pid_, SIGCONT);
}

// Asks the window manager to close the active window, as its close button does.
bool closeActiveWindow() {
  ::Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  const Window root = DefaultRootWindow(display);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  Window active = None;
  if (XGetWindowProperty(display, root, XInternAtom(display, "_NET_ACTIVE_WINDOW", False), 0, 1,
                         False, XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
      data && count == 1) {
    active = *reinterpret_cast<Window*>(data);
  }
  if (data) XFree(data);
  if (active != None) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = active;
    event.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = CurrentTime;
    event.xclient.data.l[1] = 2;  // from a pager: the user's own request
    XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
  }
  XCloseDisplay(display);
  return active != None;
}

TestWindow::TestWindow() : display_(XOpenDisplay(nullptr)) {
  if (!display_) return;
  window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 100, 100, 600, 400, 0, 0,
                                0xffffff);
  auto pid = static_cast<unsigned long>(getpid());
  XChangeProperty(display_, window_, XInternAtom(display_, "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
  XStoreName(display_, window_, "Tovrin test window");
  XSelectInput(display_, window_, KeyPressMask);
  XMapRaised(display_, window_);
  XFlush(display_);
}

int TestWindow::keyPresses() {
  if (!display_) return 0;
  XSync(display_, False);
  XEvent event;
  while (XCheckWindowEvent(display_, window_, KeyPressMask, &event))
    ++keyPresses_;
  return keyPresses_;
}

TestWindow::~TestWindow() {
  if (!display_) return;
  XDestroyWindow(display_, window_);
  XCloseDisplay(display_);
}

namespace {

Window findShown(Display* d, Window w, const std::string& title, int depth) {
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name) {
    const bool same = title == name;
    XFree(name);
    XWindowAttributes a{};
    if (same && XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable) return w;
  }
  if (depth > 3) return 0;
  Window root = 0, parent = 0, found = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(d, w, &root, &parent, &children, &count)) {
    for (unsigned int i = 0; i < count && !found; ++i)
      found = findShown(d, children[i], title, depth + 1);
    if (children) XFree(children);
  }
  return found;
}

bool shownIn(Display* d, Window w, const std::string& title, int minWidth, int depth) {
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name) {
    const bool same = title == name;
    XFree(name);
    XWindowAttributes a{};
    if (same && XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable && a.width >= minWidth)
      return true;
  }
  if (depth > 3) return false;
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  bool found = false;
  if (XQueryTree(d, w, &root, &parent, &children, &count)) {
    for (unsigned int i = 0; i < count && !found; ++i)
      found = shownIn(d, children[i], title, minWidth, depth + 1);
    if (children) XFree(children);
  }
  return found;
}

}  // namespace

bool windowShown(const std::string& title, int minWidth, bool shown, double seconds) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return false;
  const double deadline = now() + seconds;
  bool state = !shown;
  while (true) {
    state = shownIn(d, DefaultRootWindow(d), title, minWidth, 0);
    if (state == shown || now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  XCloseDisplay(d);
  return state == shown;
}

bool windowFocused(const std::string& title, double seconds) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return false;
  const double deadline = now() + seconds;
  bool focused = false;
  while (!focused) {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    // The focus may sit on the window or on one of its ancestors' children.
    for (int i = 0; i < 6 && focus > 1 && !focused; ++i) {
      char* name = nullptr;
      if (XFetchName(d, focus, &name) && name) {
        focused = title == name;
        XFree(name);
      }
      Window root = 0, parent = 0, *children = nullptr;
      unsigned int count = 0;
      if (!XQueryTree(d, focus, &root, &parent, &children, &count)) break;
      if (children) XFree(children);
      focus = parent;
    }
    if (focused || now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  XCloseDisplay(d);
  return focused;
}

void pressChord(const std::vector<std::string>& keysyms, std::chrono::milliseconds held) {
  X11Typist::press(keysyms, held);
}

std::optional<std::array<int, 4>> windowRect(const std::string& title) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return std::nullopt;
  std::optional<std::array<int, 4>> out;
  const Window w = findShown(d, DefaultRootWindow(d), title, 0);
  XWindowAttributes a{};
  int x = 0, y = 0;
  Window child = 0;
  if (w != 0 && XGetWindowAttributes(d, w, &a) &&
      XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &x, &y, &child)) {
    out = std::array<int, 4>{x, y, a.width, a.height};
  }
  XCloseDisplay(d);
  return out;
}

void clickAt(int x, int y) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return;
  XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
  XTestFakeButtonEvent(d, 1, True, CurrentTime);
  XTestFakeButtonEvent(d, 1, False, CurrentTime);
  XSync(d, False);
  XCloseDisplay(d);
}

void typeLine(const std::string& text) {
  X11Typist::type(text, std::chrono::milliseconds(5));
  X11Typist::press({"Return"});
}

Program::Program(const std::vector<std::string>& args) {
  log_ =
      scratch() + "/program-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + ".log";
  std::vector<std::string> argv = {TOVRIN_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_ = ChildProcess::spawn(argv, log_);
}

Program::~Program() {
  ChildProcess::stopGroup(pid_, std::chrono::seconds(3));
}

std::string Program::output() const {
  return readFile(log_);
}

int Program::wait(double seconds) {
  const double deadline = now() + seconds;
  while (now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = 0;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return -1;
}

}  // namespace tovrin::testing
