#include "platform/linux/process/child_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

namespace tovrin::ChildProcess {

pid_t spawn(const std::vector<std::string>& argv, const std::string& log) {
  if (argv.empty()) return 0;
  // Everything the child needs is prepared before fork: after it, only
  // async-signal-safe calls are allowed in a threaded parent.
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const char* logPath = log.empty() ? "/dev/null" : log.c_str();
  pid_t pid = fork();
  if (pid < 0) return 0;
  if (pid == 0) {
    setpgid(0, 0);
    sigset_t all;
    sigemptyset(&all);
    sigprocmask(SIG_SETMASK, &all, nullptr);  // the parent may block signals for its own reasons
    int out = ::open(logPath, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    int in = ::open("/dev/null", O_RDONLY);
    if (in >= 0) dup2(in, 0);
    execvp(args[0], args.data());
    _exit(127);
  }
  setpgid(pid, pid);  // also from the parent, so a signal sent at once finds the group
  return pid;
}

pid_t startDetached(const std::vector<std::string>& argv, std::string& error) {
  if (argv.empty()) {
    error = "nothing to start";
    return 0;
  }
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t child = 0;
  const int code = posix_spawnp(&child, args[0], nullptr, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (code != 0) {
    error = std::strerror(code);
    return 0;
  }
  return child;
}

void detachFromCaller(const std::vector<int>& keep) {
  setsid();
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    for (int fd = 0; fd <= 2; ++fd) {
      if (std::find(keep.begin(), keep.end(), fd) == keep.end()) dup2(null, fd);
    }
    if (null > 2) close(null);
  }
  // Collect first: closing while reading /proc/self/fd would close the
  // directory's own descriptor under it.
  std::vector<int> open;
  if (DIR* dir = opendir("/proc/self/fd")) {
    const int own = dirfd(dir);
    while (dirent* entry = readdir(dir)) {
      char* end = nullptr;
      const long fd = std::strtol(entry->d_name, &end, 10);
      if (*end == '\0' && fd > 2 && fd != own) open.push_back(static_cast<int>(fd));
    }
    closedir(dir);
  }
  for (int fd : open) {
    if (std::find(keep.begin(), keep.end(), fd) == keep.end()) close(fd);
  }
}

bool running(pid_t pid) {
  if (pid <= 0) return false;
  int status = 0;
  pid_t r = waitpid(pid, &status, WNOHANG);
  if (r == pid) return false;
  if (r < 0) {
    // Not our child: look at it from outside.
    if (kill(pid, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    auto close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'Z';
  }
  return true;
}

void stopGroup(pid_t pid, std::chrono::milliseconds grace) {
  if (pid <= 0) return;
  kill(-pid, SIGCONT);  // a stopped group cannot act on SIGTERM
  kill(-pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (running(pid) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);  // returns at once when it is not our child
}

}  // namespace tovrin::ChildProcess
