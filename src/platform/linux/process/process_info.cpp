#include "platform/linux/process/process_info.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "platform/linux/process/child_process.h"

namespace tovrin {

namespace ProcessInfo {

ProcessIdentity identify(const std::string& executable, const std::string& windowClass) {
  struct Known {
    const char* executable;
    const char* windowClass;
    const char* id;
    const char* name;
  };
  // Executables as Debian and the vendors install them, and the window
  // classes their windows carry.
  static constexpr Known kKnown[] = {
      {"chromium", "chromium", "chromium", "Chromium"},
      {"chromium-browser", "chromium-browser", "chromium-browser", "Chromium"},
      {"chrome", "google-chrome", "google-chrome", "Google Chrome"},
      {"google-chrome", "google-chrome", "google-chrome", "Google Chrome"},
      {"brave", "brave-browser", "brave-browser", "Brave"},
      {"brave-browser", "brave-browser", "brave-browser", "Brave"},
      {"msedge", "microsoft-edge", "microsoft-edge", "Microsoft Edge"},
      {"microsoft-edge", "microsoft-edge", "microsoft-edge", "Microsoft Edge"},
      {"firefox-esr", "firefox-esr", "firefox-esr", "Firefox ESR"},
      {"firefox", "firefox", "firefox", "Firefox"},
      {"firefox-bin", "firefox", "firefox", "Firefox"},
      // GNOME Web: its X window class, and on Wayland its application id.
      {"epiphany", "epiphany", "org.gnome.Epiphany", "GNOME Web"},
      {"epiphany-browser", "org.gnome.epiphany", "org.gnome.Epiphany", "GNOME Web"},
  };
  std::string cls = windowClass;
  std::transform(cls.begin(), cls.end(), cls.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const Known& k : kKnown) {
    if (executable == k.executable) return {k.id, k.name};
  }
  for (const Known& k : kKnown) {
    if (!cls.empty() && cls == k.windowClass) return {k.id, k.name};
  }
  if (!cls.empty()) return {cls, windowClass};
  return {executable, executable};
}

std::string executableName(int32_t pid) {
  if (pid <= 0) return {};
  char buffer[4096];
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
  std::string path;
  if (n > 0) {
    path.assign(buffer, static_cast<std::size_t>(n));
    // A replaced executable (a browser upgraded while running) reads so.
    if (auto cut = path.find(" (deleted)"); cut != std::string::npos) path.resize(cut);
  } else {
    std::vector<std::string> args = commandLine(pid);
    if (!args.empty()) path = args.front();
  }
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> commandLine(int32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> out;
  std::string current;
  for (char c : all) {
    if (c == '\0') {
      out.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(current);
  // Chromium rewrites its command line into one string of words.
  if (out.size() == 1 && out.front().find(' ') != std::string::npos) {
    std::istringstream words(out.front());
    out.clear();
    for (std::string word; words >> word;)
      out.push_back(word);
  }
  return out;
}

namespace {

// What /proc/<pid>/stat says after the command name: the state letter and
// the parent's pid. Nothing for a process that is gone.
struct Stat {
  char state = '?';
  int32_t parent = 0;
};

std::optional<Stat> statOf(int32_t pid) {
  if (pid <= 0) return std::nullopt;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  // The command name, in parentheses, may hold spaces and parentheses itself.
  auto close = line.rfind(')');
  Stat out;
  if (close == std::string::npos) return out;
  std::istringstream rest(line.substr(close + 1));
  rest >> out.state >> out.parent;
  return out;
}

}  // namespace

bool alive(int32_t pid) {
  auto stat = statOf(pid);
  return stat && stat->state != 'Z';  // a zombie has quit
}

bool descendsFrom(int32_t pid, int32_t ancestor) {
  for (int depth = 0; depth < 64 && pid > 1; ++depth) {
    if (pid == ancestor) return true;
    auto stat = statOf(pid);
    if (!stat) return false;
    pid = stat->parent;
  }
  return false;
}

std::optional<std::string> environment(int32_t pid, const std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
  if (!in) return std::nullopt;
  const std::string prefix = name + "=";
  for (std::string entry; std::getline(in, entry, '\0');) {
    if (entry.compare(0, prefix.size(), prefix) == 0) return entry.substr(prefix.size());
  }
  return std::nullopt;
}

bool inThisSession(int32_t pid) {
  const char* ours = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (ours == nullptr || *ours == '\0') return true;  // nothing to tell sessions apart by
  return environment(pid, "DBUS_SESSION_BUS_ADDRESS") == std::string(ours);
}

}  // namespace ProcessInfo

namespace {

// The arguments that pick a running browser's profile, so the addresses
// reach that instance rather than starting another, and those it needs to
// start at all.
std::vector<std::string> profileArguments(const std::vector<std::string>& commandLine) {
  std::vector<std::string> out;
  for (std::size_t i = 1; i < commandLine.size(); ++i) {
    const std::string& arg = commandLine[i];
    // Chromium run as root starts only with --no-sandbox, the hand-off
    // process included.
    if (arg.rfind("--user-data-dir=", 0) == 0 || arg.rfind("--profile-directory=", 0) == 0 ||
        arg == "--no-sandbox") {
      out.push_back(arg);
    } else if ((arg == "--profile" || arg == "-profile" || arg == "-P") &&
               i + 1 < commandLine.size()) {
      out.push_back(arg);
      out.push_back(commandLine[++i]);
    }
  }
  return out;
}

}  // namespace

bool ProcessInfo::openURLs(const std::vector<std::string>& urls, const std::string& bundleID,
                           const std::vector<RunningApplication>& running) {
  if (urls.empty()) return true;
  // The running instance of that browser, front-most first; else the
  // browser's own command.
  std::vector<std::string> argv;
  for (const RunningApplication& app : running) {
    if (app.bundleID != bundleID) continue;
    char exe[4096];
    const std::string link = "/proc/" + std::to_string(app.pid) + "/exe";
    ssize_t n = readlink(link.c_str(), exe, sizeof exe - 1);
    if (n <= 0) continue;
    argv.emplace_back(exe, static_cast<std::size_t>(n));
    for (std::string& a : profileArguments(ProcessInfo::commandLine(app.pid))) {
      argv.push_back(std::move(a));
    }
    break;
  }
  const bool firefox = bundleID.rfind("firefox", 0) == 0;
  // GNOME Web's desktop id is not its command. Its session instance takes
  // the addresses as new tabs; a private instance (`--profile`) is reached
  // by no later command line, so its arguments are not carried over.
  if (bundleID == "org.gnome.Epiphany") argv = {"epiphany"};
  if (argv.empty()) argv.push_back(bundleID);
  for (const std::string& url : urls) {
    if (firefox) argv.emplace_back("--new-tab");
    argv.push_back(url);
  }
  std::string error;
  const pid_t child = ChildProcess::startDetached(argv, error);
  if (child == 0) return false;
  // A running browser takes the addresses from this process, which then
  // leaves; one that keeps running is a browser that was not running yet.
  for (int i = 0; i < 100; ++i) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

}  // namespace tovrin
