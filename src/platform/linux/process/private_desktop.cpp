#include "platform/linux/process/private_desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <gio/gio.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/linux/process/child_process.h"

namespace tovrin {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

bool onPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// Waits for Xvfb to write its display number to `fd`.
std::string readDisplayNumber(int fd, std::chrono::milliseconds limit) {
  std::string text;
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (poll(&p, 1, static_cast<int>(std::max<long>(1, left.count()))) <= 0) continue;
    char buffer[32];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.find('\n') != std::string::npos) break;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  return text;
}

std::string firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// Support must be on, and the registry answering, before any browser
// starts, or browsers never join the accessibility bus.
bool accessibilityReady() {
  GError* error = nullptr;
  GDBusConnection* session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (error) g_error_free(error);
  if (!session) return false;
  bool ready = false;
  GVariant* set = g_dbus_connection_call_sync(
      session, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
      g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)), nullptr,
      G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
  GVariant* address =
      set ? g_dbus_connection_call_sync(session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus",
                                        "GetAddress", nullptr, G_VARIANT_TYPE("(s)"),
                                        G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr)
          : nullptr;
  if (address) {
    const gchar* text = nullptr;
    g_variant_get(address, "(&s)", &text);
    GDBusConnection* bus =
        text && *text
            ? g_dbus_connection_new_for_address_sync(
                  text,
                  static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                    G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                  nullptr, nullptr, nullptr)
            : nullptr;
    if (bus) {
      GVariant* children = g_dbus_connection_call_sync(
          bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
          "org.a11y.atspi.Accessible", "GetChildren", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE,
          1000, nullptr, nullptr);
      ready = children != nullptr;
      if (children) g_variant_unref(children);
      g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
    g_variant_unref(address);
  }
  if (set) g_variant_unref(set);
  g_object_unref(session);
  return ready;
}

bool windowManagerRunning(const std::string& display) {
  Display* d = XOpenDisplay(display.c_str());
  if (!d) return false;
  Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  bool found = XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, XA_WINDOW, &type,
                                  &format, &count, &after, &data) == Success &&
               count == 1;
  if (data) XFree(data);
  XCloseDisplay(d);
  return found;
}

template <typename Ready>
bool waitFor(Ready ready, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (ready()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return ready();
}

// Helpers that left their group (crash reporters daemonize) still carry
// the scratch folder in their command line.
void stopStragglers(const std::string& scratch) {
  DIR* proc = opendir("/proc");
  if (!proc) return;
  const pid_t self = getpid();
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 1 || pid == self) continue;
    std::ifstream in(std::string("/proc/") + entry->d_name + "/cmdline");
    std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (cmdline.find(scratch) != std::string::npos) kill(static_cast<pid_t>(pid), SIGKILL);
  }
  closedir(proc);
}

}  // namespace

std::string makeScratchFolder(const std::string& stem) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + stem + ".XXXXXX";
  if (!mkdtemp(pattern.data())) return {};
  return pattern;
}

bool removeTree(const std::string& path) {
  if (path.empty() || path == "/") return false;
  auto remove = [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); };
  return nftw(path.c_str(), remove, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

std::variant<std::unique_ptr<PrivateDesktop>, std::string> PrivateDesktop::start(
    const Options& options) {
  const std::pair<const char*, const char*> tools[] = {
      {"Xvfb", "xvfb"},
      {"dbus-daemon", "dbus"},
      {"openbox", "openbox"},
      {"/usr/libexec/at-spi-bus-launcher", "at-spi2-core"}};
  for (const auto& [tool, package] : tools) {
    if (!onPath(tool)) {
      return std::string(tool) + " is not installed (Debian package " + package +
             "). Run “bash scripts/setup.sh”, or install it with apt-get.";
    }
  }
  std::unique_ptr<PrivateDesktop> desktop(new PrivateDesktop);
  desktop->scratch_ = makeScratchFolder("tovrin-desktop");
  if (desktop->scratch_.empty()) return std::string("Couldn't make a scratch folder under /tmp.");
  const std::string& scratch = desktop->scratch_;

  // A display number nobody uses, chosen by Xvfb itself.
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return std::string("Couldn't start Xvfb: no pipe.");
  fcntl(pipeFds[1], F_SETFD, 0);  // the write end goes to Xvfb
  const std::string screen =
      std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
  pid_t xvfb = ChildProcess::spawn({"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen",
                                    "0", screen, "-nolisten", "tcp", "-noreset"},
                                   scratch + "/xvfb.log");
  close(pipeFds[1]);
  if (xvfb) desktop->servers_.push_back(xvfb);
  const std::string number = xvfb ? readDisplayNumber(pipeFds[0], 10s) : "";
  close(pipeFds[0]);
  if (number.empty()) return "Xvfb did not start: " + firstLine(scratch + "/xvfb.log");
  desktop->display_ = ":" + number;

  const std::pair<const char*, std::string> environment[] = {
      {"DISPLAY", desktop->display_},
      {"XDG_RUNTIME_DIR", scratch + "/runtime"},
      {"XDG_CONFIG_HOME", scratch + "/config"},
      {"XDG_CACHE_HOME", scratch + "/cache"},
      {"XDG_DATA_HOME", scratch + "/data"},
      {"NO_AT_BRIDGE", "0"},
      {"GTK_A11Y", "atspi"},
      // No GPU here: GNOME Web's page process paints on the CPU instead of
      // through Skia's GPU workers on software GL, where it was seen to crash.
      {"WEBKIT_SKIA_ENABLE_CPU_RENDERING", "1"}};
  for (const auto& [name, value] : environment) {
    if (std::string(name).rfind("XDG_", 0) == 0) ::mkdir(value.c_str(), 0700);
    setenv(name, value.c_str(), 1);
  }
  unsetenv("AT_SPI_BUS_ADDRESS");
  unsetenv("WAYLAND_DISPLAY");

  const std::string busFile = scratch + "/bus-address";
  pid_t bus = ChildProcess::spawn(
      {"sh", "-c",
       "exec dbus-daemon --session --nofork --nopidfile --print-address=1 --address=unix:path=" +
           scratch + "/session-bus >" + busFile},
      scratch + "/dbus.log");
  if (bus) desktop->servers_.push_back(bus);
  if (!bus || !waitFor([&] { return !firstLine(busFile).empty(); }, 10s))
    return "The session bus did not start: " + firstLine(scratch + "/dbus.log");
  setenv("DBUS_SESSION_BUS_ADDRESS", firstLine(busFile).c_str(), 1);

  if (pid_t wm = ChildProcess::spawn({"openbox", "--sm-disable"}, scratch + "/openbox.log"))
    desktop->servers_.push_back(wm);
  if (pid_t launcher = ChildProcess::spawn(
          {"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"}, scratch + "/at-spi.log"))
    desktop->servers_.push_back(launcher);
  if (!waitFor(accessibilityReady, 20s))
    return "The accessibility bus did not come up: " + firstLine(scratch + "/at-spi.log");
  // Windows opened before the window manager owns the screen are never managed.
  if (!waitFor([&] { return windowManagerRunning(desktop->display_); }, 10s))
    return "The window manager did not start: " + firstLine(scratch + "/openbox.log");
  return desktop;
}

void PrivateDesktop::adopt(pid_t group) {
  std::lock_guard lock(mutex_);
  adopted_.push_back(group);
}

void PrivateDesktop::stop() {
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  stopped_ = true;
  for (auto it = adopted_.rbegin(); it != adopted_.rend(); ++it)
    ChildProcess::stopGroup(*it, 3s);
  for (auto it = servers_.rbegin(); it != servers_.rend(); ++it)
    ChildProcess::stopGroup(*it, 1s);
  if (!scratch_.empty()) {
    stopStragglers(scratch_);
    removeTree(scratch_);
  }
}

PrivateDesktop::~PrivateDesktop() {
  stop();
}

}  // namespace tovrin
