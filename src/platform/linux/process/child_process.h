#pragma once

// Programs Tovrin starts and must be able to stop again, with everything
// they spawned: each runs in a process group of its own, so one signal to
// the group reaches its helpers too, and the terminal's Ctrl-C reaches only
// Tovrin, which then stops them in order.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tovrin::ChildProcess {

// Starts argv[0] (looked up on PATH) with standard input from /dev/null and
// its output appended to `log` (discarded when empty). 0 when it could not
// be started; a program that is not installed exits 127 at once.
pid_t spawn(const std::vector<std::string>& argv, const std::string& log);

// Starts argv[0] (looked up on PATH) in a session of its own, with this
// process's standard streams: a program the user keeps (a browser Tovrin
// opened or restarted) that must outlive Tovrin and its terminal. 0 with
// `error` set when it could not be started.
pid_t startDetached(const std::vector<std::string>& argv, std::string& error);

// Stops the process group led by `pid`: SIGTERM, up to `grace` for the
// leader to exit, then SIGKILL. Reaps the leader when it is our child.
void stopGroup(pid_t pid, std::chrono::milliseconds grace);

// In a forked child that must outlive the command that forked it (a
// clipboard owner): a session of its own, standard streams on /dev/null and
// every other inherited descriptor closed but `keep`, so a pipe the caller's
// reader waits on (`tovrin run --json … | jq`) is closed when the command
// ends, not when the owner does.
void detachFromCaller(const std::vector<int>& keep);

// True while `pid` runs (a zombie counts as ended).
bool running(pid_t pid);

}  // namespace tovrin::ChildProcess
