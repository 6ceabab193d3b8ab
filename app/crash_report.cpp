#include "crash_report.h"

#include <execinfo.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <initializer_list>

namespace tovrin::cli {
namespace {

void write(const char* text) {
  ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

void onFatal(int signal) {
  // Only async-signal-safe calls from here on.
  write("tovrin: crashed (");
  const char* name = sigabbrev_np(signal);
  write("SIG");
  write(name != nullptr ? name : "?");
  write("); the stack:\n");
  void* frames[64];
  const int depth = backtrace(frames, 64);
  backtrace_symbols_fd(frames, depth, STDERR_FILENO);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

void reportCrashes() {
  // backtrace() loads libgcc on first use, which is not safe inside a
  // handler: load it now.
  void* warm[1];
  backtrace(warm, 1);
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
    // A sanitizer's own handler, already there, reports better.
    struct sigaction old {};
    if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = &onFatal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace tovrin::cli
