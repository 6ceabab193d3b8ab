#include "platform/linux/process/browser_repair.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "accessibility/browser.h"
#include "platform/linux/process/child_process.h"
#include "platform/linux/process/process_info.h"

namespace tovrin::BrowserRepair {

bool needsAccessibilityFlag(const std::string& applicationID) {
  const BrowserAdapter* adapter = BrowserRegistry::adapter(applicationID);
  return adapter && dynamic_cast<const ChromiumAdapter*>(adapter) != nullptr;
}

std::vector<std::string> restartArguments(const std::vector<std::string>& commandLine) {
  std::vector<std::string> out;
  bool hasFlag = false, restores = false;
  for (std::size_t i = 0; i < commandLine.size(); ++i) {
    const std::string& arg = commandLine[i];
    if (i > 0 && !arg.empty() && arg[0] != '-') continue;  // a page: the session brings it back
    if (arg == kAccessibilityFlag) hasFlag = true;
    if (arg == "--restore-last-session") restores = true;
    out.push_back(arg);
  }
  if (!hasFlag) out.emplace_back(kAccessibilityFlag);
  if (!restores) out.emplace_back("--restore-last-session");
  return out;
}

std::optional<int32_t> restartWithAccessibility(int32_t pid, std::string& error) {
  std::vector<std::string> args = restartArguments(ProcessInfo::commandLine(pid));
  if (args.empty()) {
    error = "its command line cannot be read";
    return std::nullopt;
  }
  // The executable itself, so a wrapper script does not drop arguments.
  char exe[4096];
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  ssize_t n = readlink(link.c_str(), exe, sizeof exe - 1);
  if (n > 0) args.front().assign(exe, static_cast<std::size_t>(n));
  if (kill(pid, SIGTERM) != 0) {
    error = "it cannot be asked to quit";
    return std::nullopt;
  }
  for (int i = 0; i < 150 && ProcessInfo::alive(pid); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (ProcessInfo::alive(pid)) {
    error = "it did not quit within 15 seconds";
    return std::nullopt;
  }
  std::string why;
  const pid_t child = ChildProcess::startDetached(args, why);
  if (child == 0) {
    error = "it could not be started again: " + why;
    return std::nullopt;
  }
  return child;
}

std::string launcherWithFlag(const std::string& desktopEntry) {
  std::istringstream in(desktopEntry);
  std::string out, line;
  while (std::getline(in, line)) {
    if (line.rfind("Exec=", 0) == 0 && line.find(kAccessibilityFlag) == std::string::npos) {
      // After the program, before its arguments (%U and the like).
      auto space = line.find(' ');
      if (space == std::string::npos) {
        line += std::string(" ") + kAccessibilityFlag;
      } else {
        line.insert(space, std::string(" ") + kAccessibilityFlag);
      }
    }
    out += line + '\n';
  }
  return out;
}

std::optional<std::string> installLauncher(const std::string& applicationID, std::string& error) {
  namespace fs = std::filesystem;
  const std::string name = applicationID + ".desktop";
  std::string dataHome;
  if (const char* d = std::getenv("XDG_DATA_HOME"); d && *d) {
    dataHome = d;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    dataHome = std::string(home) + "/.local/share";
  } else {
    error = "neither XDG_DATA_HOME nor HOME is set";
    return std::nullopt;
  }
  const fs::path target = fs::path(dataHome) / "applications" / name;
  fs::path source = target;
  std::error_code ec;
  if (!fs::exists(target, ec)) {
    source.clear();
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::istringstream list(dirs && *dirs ? dirs : "/usr/local/share:/usr/share");
    for (std::string dir; std::getline(list, dir, ':');) {
      if (fs::exists(fs::path(dir) / "applications" / name, ec)) {
        source = fs::path(dir) / "applications" / name;
        break;
      }
    }
  }
  if (source.empty()) {
    error = "no desktop entry " + name + " was found";
    return std::nullopt;
  }
  std::ifstream in(source);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) {
    error = source.string() + " cannot be read";
    return std::nullopt;
  }
  fs::create_directories(target.parent_path(), ec);
  // Write beside it, then rename: a desktop never sees half an entry.
  const fs::path temporary = target.string() + ".tovrin-new";
  {
    std::ofstream out(temporary);
    out << launcherWithFlag(text.str());
    if (!out) {
      error = temporary.string() + " cannot be written";
      return std::nullopt;
    }
  }
  fs::rename(temporary, target, ec);
  if (ec) {
    error = target.string() + ": " + ec.message();
    return std::nullopt;
  }
  return target.string();
}

}  // namespace tovrin::BrowserRepair
