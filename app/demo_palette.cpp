#include "demo_palette.h"

#include <array>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/linux/process/child_process.h"
#include "platform/linux/x11/x11_typist.h"

namespace tovrin::cli {
namespace {

using namespace std::chrono_literals;

bool startsWith(const std::string& text, const std::string& start) {
  return text.rfind(start, 0) == 0;
}

// The chord of a preset as the keyboard's keys.
std::vector<std::string> chordKeys(const HotkeyPreset& preset) {
  static constexpr std::array<const char*, 4> kKeys = {"Control_L", "Alt_L", "Super_L", "Shift_L"};
  std::vector<std::string> keys;
  for (HotkeyModifier m : hotkeyModifiers(preset.modifiers))
    keys.emplace_back(kKeys[static_cast<std::size_t>(m)]);
  keys.emplace_back("space");
  return keys;
}

// `tovrin show`, `tovrin quit`: short, and waited for.
void runBriefly(const std::vector<std::string>& argv) {
  const pid_t pid = ChildProcess::spawn(argv, "");
  for (int i = 0; i < 100 && pid > 0 && ChildProcess::running(pid); ++i)
    std::this_thread::sleep_for(50ms);
  if (pid > 0) ChildProcess::stopGroup(pid, 0ms);
}

}  // namespace

DemoPalette::DemoPalette(pid_t pid, std::string executable, std::string trace)
    : pid_(pid), executable_(std::move(executable)), trace_(std::move(trace)) {}

DemoPalette::~DemoPalette() {
  quit();
}

std::unique_ptr<DemoPalette> DemoPalette::start(const std::string& executable,
                                                const std::string& folder, std::string& error) {
  const std::string trace = folder + "/tovrin-app.log";
  std::ofstream(trace, std::ios::trunc).flush();
  // The trace tells each phase of the palette; only this child has it on.
  setenv("TOVRIN_TRACE", "1", 1);
  const pid_t pid = ChildProcess::spawn({executable}, trace);
  unsetenv("TOVRIN_TRACE");
  if (pid <= 0) {
    error = "Tovrin's desktop application could not be started";
    return nullptr;
  }
  std::unique_ptr<DemoPalette> palette(new DemoPalette(pid, executable, trace));
  for (const std::string& line : palette->waitFor({"tovrin: running"}, 20)) {
    if (startsWith(line, "tovrin: running")) return palette;
  }
  error = ChildProcess::running(pid) ? "Tovrin's desktop application did not answer within 20 s"
                                     : "Tovrin's desktop application exited (see " + trace + ")";
  return nullptr;
}

std::vector<std::string> DemoPalette::newLines() {
  std::ifstream in(trace_);
  in.seekg(static_cast<std::streamoff>(read_));
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (in.eof()) break;  // a line still being written
    read_ += line.size() + 1;
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> DemoPalette::waitFor(const std::vector<std::string>& starts,
                                              double seconds) {
  std::vector<std::string> seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  bool found = false;
  while (std::chrono::steady_clock::now() < deadline && ChildProcess::running(pid_)) {
    for (std::string& line : newLines()) {
      if (found && !startsWith(line, "palette:   ")) return seen;
      for (const std::string& s : starts)
        found = found || startsWith(line, s);
      seen.push_back(std::move(line));
    }
    // The details come with the line they belong to.
    if (found) return seen;
    std::this_thread::sleep_for(50ms);
  }
  return found ? seen : std::vector<std::string>{};
}

bool DemoPalette::open(const HotkeyPreset& preset, std::string& note) {
  newLines();
  X11Typist::press(chordKeys(preset));
  if (waitFor({"focus: Tovrin"}, 3).empty()) {
    runBriefly({executable_, "show"});
    note = "the hotkey did not reach Tovrin here, so the palette was opened with “tovrin show”";
    if (waitFor({"focus: Tovrin"}, 10).empty()) return false;
  }
  open_ = true;
  return true;
}

std::vector<std::string> DemoPalette::enter(const std::string& line) {
  newLines();
  // What ends the step: an answer ends in a result (or, declined, in the
  // empty palette); a command in a result or a question.
  std::vector<std::string> starts = {"palette: result:"};
  if (line == "y" || line == "Y") {
    X11Typist::press({"Return"});
  } else if (line == "n" || line == "N") {
    X11Typist::press({"Escape"});
    starts = {"palette: idle"};
  } else if (line.size() == 1 && line[0] >= '1' && line[0] <= '9') {
    X11Typist::press({line});
  } else {
    starts.emplace_back("palette: confirm:");
    starts.emplace_back("palette: choose:");
    X11Typist::press({"Control_L", "a"});  // the last command's text is replaced
    if (!X11Typist::type(line, 60ms)) return {};
    X11Typist::press({"Return"});
  }
  std::vector<std::string> seen = waitFor(starts, 60);
  // The outcome is the last line that ended the wait, with its details.
  auto last = seen.end();
  for (auto it = seen.begin(); it != seen.end(); ++it) {
    for (const std::string& s : starts) {
      if (startsWith(*it, s)) last = it;
    }
  }
  std::vector<std::string> out;
  if (last == seen.end()) return out;
  for (auto it = last; it != seen.end(); ++it) {
    const std::string& l = *it;
    if (startsWith(l, "palette: result: ")) out.push_back(l.substr(17));
    if (startsWith(l, "palette: confirm: "))
      out.push_back(l.substr(18) + "  (Return confirms, Escape declines)");
    if (startsWith(l, "palette: choose: ")) out.push_back(l.substr(17));
    if (startsWith(l, "palette: idle")) out.emplace_back("Declined — nothing was done.");
    // The trail's read lines are for the trace's reader, not the transcript.
    if (startsWith(l, "palette:   ") && !startsWith(l, "palette:   why: "))
      out.push_back("  " + l.substr(11));
  }
  return out;
}

void DemoPalette::quit() {
  if (pid_ <= 0) return;
  runBriefly({executable_, "quit"});
  for (int i = 0; i < 50 && ChildProcess::running(pid_); ++i)
    std::this_thread::sleep_for(100ms);
  ChildProcess::stopGroup(pid_, 2s);
  pid_ = 0;
}

}  // namespace tovrin::cli
