#include "desktop/browser_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "accessibility/browser.h"
#include "content/page_snapshot.h"

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

// Starts a program in a process group of its own, output to `log`.
pid_t spawn(const std::vector<std::string>& argv, const std::string& log) {
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    int in = ::open("/dev/null", O_RDONLY);
    if (in >= 0) dup2(in, 0);
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

int counter = 0;

}  // namespace

const char* browserLabel(BrowserKind kind) {
  return kind == BrowserKind::chromium ? "Chromium" : "Firefox";
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

std::string pageURL(const std::string& name) {
  const char* source = std::getenv("TOVRIN_SOURCE_DIR");
  return std::string("file://") + (source ? source : ".") + "/tests/pages/" + name;
}

ProcessResult runTovrin(const std::vector<std::string>& args) {
  const std::string base =
      scratch() + "/run-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
  const std::string outPath = base + ".out", errPath = base + ".err";
  const double start = now();
  pid_t pid = fork();
  if (pid == 0) {
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    std::string binary = TOVRIN_BINARY;
    argv.push_back(binary.data());
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ProcessResult result;
  result.seconds = now() - start;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return result;
}

std::unique_ptr<Browser> Browser::start(BrowserKind kind, const std::string& url, Options options) {
  const std::string profile = scratch() + "/" +
                              (kind == BrowserKind::chromium ? "chromium-" : "firefox-") +
                              std::to_string(getpid()) + "-" + std::to_string(++counter);
  std::vector<std::string> argv;
  if (kind == BrowserKind::chromium) {
    argv = {"chromium",
            "--no-sandbox",
            "--disable-gpu",
            "--no-first-run",
            "--no-default-browser-check",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--disable-features=Translate,MediaRouter",
            "--password-store=basic",
            "--window-position=0,0",
            "--window-size=1280,900",
            "--user-data-dir=" + profile};
    if (options.accessibilityFlag) argv.emplace_back("--force-renderer-accessibility");
  } else {
    ::mkdir(profile.c_str(), 0700);
    // A first start shows welcome and privacy tabs, and checks for updates.
    std::ofstream prefs(profile + "/user.js");
    prefs << "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
             "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
             "user_pref(\"startup.homepage_welcome_url\", \"\");\n"
             "user_pref(\"startup.homepage_welcome_url.additional\", \"\");\n"
             "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
             "user_pref(\"datareporting.policy.firstRunURL\", \"\");\n"
             "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n"
             "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
             "user_pref(\"app.update.enabled\", false);\n"
             "user_pref(\"browser.sessionstore.resume_from_crash\", false);\n"
             "user_pref(\"browser.tabs.warnOnClose\", false);\n";
    // Remoting stays on: addresses opened later reach this instance by its profile.
    argv = {"firefox-esr", "--profile", profile, "-width", "1280", "-height", "900"};
  }
  argv.push_back(url);
  pid_t pid = spawn(argv, profile + ".log");
  if (pid <= 0) return nullptr;
  return std::unique_ptr<Browser>(new Browser(kind, pid));
}

Browser::~Browser() {
  resume();
  kill(-pid_, SIGTERM);
  for (int i = 0; i < 50; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(-pid_, SIGKILL);
  waitpid(pid_, nullptr, WNOHANG);
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

}  // namespace tovrin::testing
