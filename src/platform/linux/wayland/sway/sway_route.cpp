#include "platform/linux/wayland/sway/sway_route.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <chrono>

#include "platform/linux/key_translation.h"
#include "platform/linux/process/child_process.h"
#include "ui/palette_controls.h"

extern char** environ;

namespace tovrin {
namespace {

double now() {
  return SystemClock().now();
}

// Runs a program to its end with no input and its output discarded; true
// when it exited 0 within `seconds`.
bool runQuietly(const std::vector<std::string>& argv, double seconds) {
  const pid_t child = ChildProcess::spawn(argv, "");
  if (child == 0) return false;
  const double until = now() + seconds;
  for (;;) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child)
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (now() > until) {
      ChildProcess::stopGroup(child, std::chrono::milliseconds(200));
      return false;
    }
    usleep(2000);
  }
}

const char* modifierName(uint32_t keysym) {
  switch (keysym) {
    case XKB_KEY_Control_L:
    case XKB_KEY_Control_R:
      return "ctrl";
    case XKB_KEY_Shift_L:
    case XKB_KEY_Shift_R:
      return "shift";
    case XKB_KEY_Alt_L:
    case XKB_KEY_Alt_R:
      return "alt";
    case XKB_KEY_Super_L:
    case XKB_KEY_Super_R:
      return "logo";
    default:
      return nullptr;
  }
}

}  // namespace

std::optional<std::string> captureOutput(const std::vector<std::string>& argv, double seconds) {
  int out[2];
  if (argv.empty() || pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], 1);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 2);
    }
    setpgid(0, 0);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  if (child < 0) {
    close(out[0]);
    return std::nullopt;
  }
  std::string text;
  bool timedOut = false;
  const double until = now() + seconds;
  char buffer[4096];
  for (;;) {
    const double left = until - now();
    pollfd p{out[0], POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left * 1000) + 1) != 1) {
      timedOut = true;
      break;
    }
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(out[0]);
  if (timedOut) kill(-child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return text;
}

std::vector<std::string> SwayIpc::chordArguments(const std::vector<uint32_t>& modifiers,
                                                 uint32_t key) {
  std::vector<std::string> out = {"-k", "Shift_L"};
  for (uint32_t m : modifiers) {
    if (const char* name = modifierName(m)) out.insert(out.end(), {"-M", name});
  }
  char name[64] = {0};
  xkb_keysym_get_name(key, name, sizeof name);
  out.insert(out.end(), {"-k", name});
  for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) {
    if (const char* n = modifierName(*it)) out.insert(out.end(), {"-m", n});
  }
  return out;
}

std::vector<std::string> SwayIpc::configLines(uint32_t carbonModifiers) {
  static constexpr std::array<const char*, 4> kNames = {"Ctrl+", "Mod1+", "Mod4+", "Shift+"};
  std::string chord;
  for (HotkeyModifier m : hotkeyModifiers(carbonModifiers))
    chord += kNames[static_cast<std::size_t>(m)];
  return {"bindsym " + chord + "space exec tovrin toggle",
          "for_window [app_id=\"tovrin\"] floating enable"};
}

bool VirtualKeyboardRoute::chord(const std::vector<uint32_t>& modifiers, uint32_t key) {
  std::vector<std::string> argv = {"wtype"};
  for (std::string& a : SwayIpc::chordArguments(modifiers, key))
    argv.push_back(std::move(a));
  return runQuietly(argv, 3.0);
}

bool VirtualKeyboardRoute::typeCharacter(const std::string& character) {
  const std::vector<uint32_t> cps = Keys::codePoints(character);
  // Chromium drops keysyms beyond the Basic Multilingual Plane (emoji) and
  // characters made of several code points come as one: those are pasted.
  if (cps.size() == 1 && cps.front() <= 0xFFFF) {
    return runQuietly({"wtype", "-k", "Shift_L", "--", character}, 3.0);
  }
  return paste_.paste(character, [this] { return chord({XKB_KEY_Control_L}, XKB_KEY_v); });
}

void VirtualKeyboardRoute::finish() {
  paste_.restore();
}

bool DataControlPaste::paste(const std::string& text, const std::function<bool()>& pressPaste) {
  if (!saved_) saved_ = clipboard_.string();
  clipboard_.setString(text);
  return clipboard_.lastCopySucceeded() && pressPaste();
}

void DataControlPaste::restore() {
  if (saved_ && *saved_) clipboard_.setString(**saved_);
  saved_.reset();
}

std::string VirtualKeyboardRoute::problem() {
  if (!captureOutput({"sh", "-c", "command -v wtype"}, 2.0))
    return "wtype is not installed (sudo apt install wtype)";
  return {};
}

bool SwayIpc::focus(int32_t pid) {
  return runQuietly({"swaymsg", "[pid=" + std::to_string(pid) + "]", "focus"}, 3.0);
}

void DataControlClipboard::setString(const std::string& text) {
  // wl-copy serves the text from a process of its own after it returns;
  // spawned with no standard streams of ours, so a reader of Tovrin's
  // output is not held up by it.
  lastCopy_ = runQuietly({"wl-copy", "--", text}, 5.0);
}

std::optional<std::string> DataControlClipboard::string() {
  return captureOutput({"wl-paste", "--no-newline", "--type", "text"}, 2.0);
}

}  // namespace tovrin
