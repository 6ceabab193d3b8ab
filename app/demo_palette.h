#pragma once

// The desktop application in the demo's desktop, driven as a person drives
// it: the hotkey, a command typed into the palette at a person's pace,
// Return, and the outcome read from the application's trace.

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/palette_controls.h"

namespace tovrin::cli {

class DemoPalette {
 public:
  // Starts `executable` as the desktop application, its trace written into
  // `folder`; null with `error` when it does not come up.
  static std::unique_ptr<DemoPalette> start(const std::string& executable,
                                            const std::string& folder, std::string& error);
  ~DemoPalette();
  DemoPalette(const DemoPalette&) = delete;
  DemoPalette& operator=(const DemoPalette&) = delete;

  [[nodiscard]] pid_t pid() const { return pid_; }

  // Opens the palette with `preset`'s chord, or, where the chord does not
  // reach it, with `tovrin show` (said in `note`). False when neither works.
  bool open(const HotkeyPreset& preset, std::string& note);
  // One line of the session: a command typed and Return, or the answer to
  // the question on screen ("y" Return, "n" Escape, a digit picks). The
  // outcome's lines; empty when none came within the time a command has.
  std::vector<std::string> enter(const std::string& line);
  // Quits the application and waits for it.
  void quit();

 private:
  DemoPalette(pid_t pid, std::string executable, std::string trace);
  // The trace's lines written since the last call.
  std::vector<std::string> newLines();
  // Waits for a trace line starting with one of `starts`; the lines up to
  // it and its details.
  std::vector<std::string> waitFor(const std::vector<std::string>& starts, double seconds);

  pid_t pid_;
  std::string executable_;
  std::string trace_;
  std::size_t read_ = 0;  // bytes of the trace already read
  bool open_ = false;
};

}  // namespace tovrin::cli
