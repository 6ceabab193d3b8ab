#include "platform/linux/wayland/gnome/mutter_clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <iterator>
#include <vector>

#include "platform/linux/process/child_process.h"
#include "platform/linux/wayland/gnome/mutter_remote_desktop.h"

extern char** environ;

namespace tovrin {
namespace {

bool executable(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

std::string selfFolder() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/'));
}

}  // namespace

std::string ClipboardKeeper::program() {
  constexpr const char* kName = "/tovrin-clipboard-keeper";
  std::vector<std::string> candidates;
  if (const char* dir = std::getenv("TOVRIN_HELPER_DIR"))
    candidates.push_back(dir + std::string(kName));
  const std::string here = selfFolder();
  candidates.push_back(here + kName);
  candidates.push_back(here + "/.." + kName);
  candidates.push_back(here + "/../libexec/tovrin" + kName);  // installed beside bin/
#ifdef TOVRIN_BUILD_HELPER_DIR
  candidates.push_back(TOVRIN_BUILD_HELPER_DIR + std::string(kName));
#endif
#ifdef TOVRIN_INSTALL_HELPER_DIR
  candidates.push_back(TOVRIN_INSTALL_HELPER_DIR + std::string(kName));
#endif
  for (const std::string& c : candidates) {
    if (executable(c)) return c;
  }
  return {};
}

bool ClipboardKeeper::start(const std::string& text) {
  const std::string path = program();
  if (path.empty()) return false;
  int in[2], out[2];
  if (pipe(in) != 0) return false;
  if (pipe(out) != 0) {
    close(in[0]);
    close(in[1]);
    return false;
  }
  const pid_t child = fork();
  if (child == 0) {
    // Only async-signal-safe calls between fork and exec.
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[0]);
    close(in[1]);
    close(out[0]);
    close(out[1]);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    execve(path.c_str(), argv, environ);
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  bool ok = false;
  if (child > 0) {
    // A reader that went away must not kill this process.
    signal(SIGPIPE, SIG_IGN);
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(in[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(in[1]);
    pollfd p{out[0], POLLIN, 0};
    char answer = 0;
    ok = poll(&p, 1, 5000) == 1 && read(out[0], &answer, 1) == 1 && answer == '1';
    // The keeper forks away from us once it owns the clipboard.
    waitpid(child, nullptr, 0);
  } else {
    close(in[1]);
  }
  close(out[0]);
  return ok;
}

int ClipboardKeeper::run() {
  std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  // A second process: the command that started us waits only for the
  // answer below, and the keeper must hold none of its streams. Forked
  // before GDBus starts its worker thread, which a fork would not carry.
  const pid_t child = fork();
  if (child != 0) return child > 0 ? 0 : 1;
  ChildProcess::detachFromCaller({1});
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (error) g_error_free(error);
  MutterRemoteDesktop desktop(bus);
  if (bus) g_object_unref(bus);
  const bool owned = desktop.open() && desktop.offerSelection(text);
  (void)!write(1, owned ? "1" : "0", 1);
  if (const int null = open("/dev/null", O_WRONLY); null >= 0) {
    dup2(null, 1);
    close(null);
  }
  signal(SIGHUP, SIG_IGN);
  if (!owned) return 1;
  // Serve pastes until another program owns the clipboard or mutter ends
  // the session (the user stopped the sharing, or logged out).
  desktop.serve(1e9, [&] { return !desktop.ownsSelection() || desktop.closed(); });
  return 0;
}

MutterClipboard::MutterClipboard(GDBusConnection* bus)
    : bus_(bus ? static_cast<GDBusConnection*>(g_object_ref(bus)) : nullptr) {}

MutterClipboard::~MutterClipboard() {
  if (bus_) g_object_unref(bus_);
}

void MutterClipboard::setString(const std::string& text) {
  lastCopy_ = ClipboardKeeper::start(text);
}

std::optional<std::string> MutterClipboard::string() {
  MutterRemoteDesktop desktop(bus_);
  if (!desktop.open()) return std::nullopt;
  auto out = desktop.readSelection();
  desktop.close();
  return out;
}

}  // namespace tovrin
