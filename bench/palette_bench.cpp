// The desktop application, measured from outside as a user meets it, in an
// X session (bench/palette_speed.sh starts one and the application):
//
//   palette_bench latency [RUNS]   the hotkey chord (Ctrl+Space) sent
//       through XTest until the palette is mapped with the keyboard focus;
//       median and 95th percentile.
//   palette_bench memory PID TOVRIN [COMMANDS]   the application's resident
//       memory idle, after 500 toggles (`TOVRIN toggle`), and at each quarter
//       of COMMANDS (200 unless given) commands typed into the palette.
//   palette_bench endurance PID TOVRIN LOG [COMMANDS]   COMMANDS (1,000
//       unless given) commands of every kind typed into the palette over a
//       real page, each waited for to its end (the application started with
//       TOVRIN_TRACE=1 writes its phases to LOG); resident memory, open file
//       descriptors and the median time to a result, first tenth against
//       last tenth.

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

Window findPalette(Display* d, Window w, int depth = 0) {
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name) {
    const bool palette = std::string(name) == "Tovrin";
    XFree(name);
    XWindowAttributes a{};
    if (palette && XGetWindowAttributes(d, w, &a) && a.width >= 600) return w;
  }
  if (depth > 3) return 0;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned int count = 0;
  Window found = 0;
  if (XQueryTree(d, w, &root, &parent, &children, &count)) {
    for (unsigned int i = 0; i < count && !found; ++i)
      found = findPalette(d, children[i], depth + 1);
    if (children) XFree(children);
  }
  return found;
}

bool viewable(Display* d, Window w) {
  XWindowAttributes a{};
  return XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
}

bool focusedIn(Display* d, Window palette) {
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(d, &focus, &revert);
  for (int i = 0; i < 6 && focus > 1; ++i) {
    if (focus == palette) return true;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, focus, &root, &parent, &children, &count)) break;
    if (children) XFree(children);
    focus = parent;
  }
  return false;
}

void key(Display* d, KeySym sym, bool down) {
  XTestFakeKeyEvent(d, XKeysymToKeycode(d, sym), down ? True : False, CurrentTime);
}

void chord(Display* d) {
  key(d, XK_Control_L, true);
  key(d, XK_space, true);
  key(d, XK_space, false);
  key(d, XK_Control_L, false);
  XFlush(d);
}

template <typename Ready>
bool waitFor(Ready ready, double seconds) {
  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < deadline) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

long residentKB(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Replaces what the field holds: the palette keeps the last command's text
// after a result, as a user's next edit would.
void typeCommand(Display* d, const std::string& text) {
  key(d, XK_Control_L, true);
  key(d, XK_a, true);
  key(d, XK_a, false);
  key(d, XK_Control_L, false);
  for (char c : text) {
    const KeySym sym = c == ' ' ? XK_space : static_cast<KeySym>(c);
    key(d, sym, true);
    key(d, sym, false);
  }
  key(d, XK_Return, true);
  key(d, XK_Return, false);
  XSync(d, False);
}

int openFiles(int pid) {
  std::error_code ec;
  int count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    ++count;
  return count;
}

// How many phases that end a command (a result, a question, a choice) the
// application has written to its log so far.
int endings(const std::string& log) {
  std::ifstream in(log);
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("palette: result:", 0) == 0 || line.rfind("palette: confirm:", 0) == 0 ||
        line.rfind("palette: choose:", 0) == 0)
      ++count;
  }
  return count;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  Display* d = XOpenDisplay(nullptr);
  if (!d || argc < 2) {
    std::fprintf(stderr,
                 "usage: palette_bench latency [RUNS] | memory PID TOVRIN (inside an X session)\n");
    return 2;
  }
  Window palette = 0;
  if (!waitFor([&] { return (palette = findPalette(d, DefaultRootWindow(d))) != 0; }, 20)) {
    std::fprintf(stderr, "palette_bench: no palette window (is the application running?)\n");
    return 1;
  }
  const std::string mode = argv[1];
  if (mode == "latency") {
    const int runs = argc > 2 ? std::atoi(argv[2]) : 30;
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
      // Closed first: it may still be closing from before, else the same
      // chord closes it.
      if (viewable(d, palette) && !waitFor([&] { return !viewable(d, palette); }, 1)) {
        chord(d);
        waitFor([&] { return !viewable(d, palette); }, 5);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const auto start = Clock::now();
      chord(d);
      if (!waitFor([&] { return viewable(d, palette) && focusedIn(d, palette); }, 5)) {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(d, &focus, &revert);
        std::fprintf(stderr,
                     "palette_bench: the palette did not open with the focus (run %d: %s, focus "
                     "on 0x%lx, palette 0x%lx)\n",
                     i + 1, viewable(d, palette) ? "shown" : "not shown", focus, palette);
        return 1;
      }
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("hotkey to focused palette over %d runs: median %.1f ms, p95 %.1f ms\n", runs,
                ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 95 / 100)]);
    return 0;
  }
  if (mode == "memory" && argc > 3) {
    const int pid = std::atoi(argv[2]);
    const std::string toggle = std::string(argv[3]) + " toggle";
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long idle = residentKB(pid);
    for (int i = 0; i < 500; ++i) {
      const bool open = viewable(d, palette);
      if (std::system(toggle.c_str()) != 0) return 1;
      waitFor([&] { return viewable(d, palette) != open; }, 2);
    }
    const long toggled = residentKB(pid);
    if (!viewable(d, palette) && std::system(toggle.c_str()) != 0) return 1;
    waitFor([&] { return viewable(d, palette) && focusedIn(d, palette); }, 5);
    const char* commands[] = {"click sign in", "scroll down", "find camp mug", "read this page"};
    const int count = argc > 4 ? std::max(4, std::atoi(argv[4])) : 200;
    std::printf("resident memory: idle %.1f MB, after 500 toggles %.1f MB", idle / 1024.0,
                toggled / 1024.0);
    for (int i = 0; i < count; ++i) {
      if (i > 0 && i % (count / 4) == 0) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::printf(", after %d commands %.1f MB", i, residentKB(pid) / 1024.0);
        std::fflush(stdout);
      }
      typeCommand(d, commands[i % 4]);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      key(d, XK_Escape, true);  // back to idle (the result closes)
      key(d, XK_Escape, false);
      XSync(d, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (!viewable(d, palette)) {
        if (std::system(toggle.c_str()) != 0) return 1;
        waitFor([&] { return viewable(d, palette) && focusedIn(d, palette); }, 5);
      }
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::printf(", after %d commands %.1f MB\n", count, residentKB(pid) / 1024.0);
    return 0;
  }
  if (mode == "return" && argc > 4) {
    // The palette opened over the front browser, COMMAND typed at a
    // person's pace (60 ms a key), then Return: the time from Return to the
    // outcome shown, and how many commands found the page read ahead.
    const std::string log = argv[2];
    const int runs = std::max(1, std::atoi(argv[3]));
    const std::string command = argv[4];
    std::vector<double> ms;
    int lost = 0;
    for (int i = 0; i < runs; ++i) {
      if (viewable(d, palette)) {
        for (int k = 0; k < 2; ++k) {  // out of the result, then closed
          key(d, XK_Escape, true);
          key(d, XK_Escape, false);
          XSync(d, False);
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        waitFor([&] { return !viewable(d, palette); }, 5);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      chord(d);
      if (!waitFor([&] { return viewable(d, palette) && focusedIn(d, palette); }, 5)) {
        ++lost;
        continue;
      }
      for (char c : command) {
        const KeySym sym = c == ' ' ? XK_space : static_cast<KeySym>(c);
        key(d, sym, true);
        key(d, sym, false);
        XSync(d, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
      }
      const int before = endings(log);
      const auto start = Clock::now();
      key(d, XK_Return, true);
      key(d, XK_Return, false);
      XSync(d, False);
      if (!waitFor([&] { return endings(log) > before; }, 60)) {
        ++lost;
        continue;
      }
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::ifstream in(log);
    int ahead = 0;
    // How long each read ahead took, beside how long the command took to
    // type: a read longer than the typing is what Return waits for.
    std::vector<double> reads;
    for (std::string line; std::getline(in, line);) {
      ahead += line.find("why: Read while the command was typed") != std::string::npos;
      const std::size_t at = line.rfind(" in ");
      if (line.rfind("prefetch: Read ", 0) == 0 && at != std::string::npos)
        reads.push_back(std::atof(line.c_str() + at + 4) * 1000);
    }
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    const double p95 = sorted.empty() ? 0 : sorted[(sorted.size() * 95 + 99) / 100 - 1];
    std::printf(
        "Return to outcome: median %.0f ms, p95 %.0f ms over %zu runs; read ahead %d; "
        "no outcome %d",
        median(ms), p95, ms.size(), ahead, lost);
    if (!reads.empty())
      std::printf("; each read ahead took %.0f ms (median), the typing %zu ms", median(reads),
                  command.size() * 60);
    std::printf("\n");
    return lost == 0 ? 0 : 1;
  }
  if (mode == "endurance" && argc > 4) {
    const int pid = std::atoi(argv[2]);
    const std::string toggle = std::string(argv[3]) + " toggle";
    const std::string log = argv[4];
    const int count = argc > 5 ? std::max(20, std::atoi(argv[5])) : 1000;
    // Clicks, typing, scrolls, finds, answers, a summary, a choice and a
    // question declined: everything the palette does to a page but buying.
    const char* commands[] = {"click sign in",
                              "type hello into the email field",
                              "scroll down",
                              "find camp mug",
                              "what does shipping cost",
                              "scroll to top",
                              "click add to cart",
                              "summarize this page",
                              "list the buttons",
                              "click buy now",
                              "scroll to shipping",
                              "read this page"};
    const int kinds = static_cast<int>(sizeof commands / sizeof *commands);
    std::vector<double> seconds;
    long rssStart = 0;
    int fdsStart = 0, slow = 0, lost = 0;
    for (int i = 0; i < count; ++i) {
      if (!viewable(d, palette) || !focusedIn(d, palette)) {
        if (!viewable(d, palette) && std::system(toggle.c_str()) != 0) return 1;
        waitFor([&] { return viewable(d, palette) && focusedIn(d, palette); }, 5);
      }
      const int before = endings(log);
      const auto start = Clock::now();
      typeCommand(d, commands[i % kinds]);
      if (!waitFor([&] { return endings(log) > before; }, 30)) ++lost;
      seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
      if (seconds.back() > 10) ++slow;
      key(d, XK_Escape, true);  // closes the result, declines, or leaves the choice
      key(d, XK_Escape, false);
      XSync(d, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (i == kinds - 1) {  // after one of each: what the first use allocated stays
        rssStart = residentKB(pid);
        fdsStart = openFiles(pid);
      }
      if (residentKB(pid) < 0) {
        std::printf("the application ended after %d commands\n", i + 1);
        return 1;
      }
    }
    const std::size_t tenth = seconds.size() / 10;
    const std::vector<double> first(seconds.begin(), seconds.begin() + tenth);
    const std::vector<double> last(seconds.end() - tenth, seconds.end());
    std::printf(
        "%d commands: resident memory %.1f MB after the first %d, %.1f MB at the end; open files "
        "%d, then %d; median to a result %.0f ms in the first tenth, %.0f ms in the last; slower "
        "than 10 s: %d; no result within 30 s: %d\n",
        count, rssStart / 1024.0, kinds, residentKB(pid) / 1024.0, fdsStart, openFiles(pid),
        median(first) * 1000, median(last) * 1000, slow, lost);
    return lost == 0 ? 0 : 1;
  }
  std::fprintf(stderr, "palette_bench: unknown mode %s\n", mode.c_str());
  return 2;
}
