#pragma once

// sway and other wlroots compositors: keys through the virtual-keyboard
// protocol (Debian's wtype, which uploads a keymap holding exactly the
// characters it types, so any script types), windows through sway's IPC
// (swaymsg), and the clipboard through the data-control protocol (Debian's
// wl-clipboard), which KDE Plasma offers too.
//
// Each wtype run makes a keyboard of its own; Chromium misreads the key on
// the new keymap's first keycode, so every run starts with a Shift tap that
// takes it. Emoji and other characters beyond the Basic Multilingual Plane
// never arrive as keysyms: they are pasted, and the user's clipboard is put
// back when the command's input is over.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "accessibility/platform.h"
#include "platform/linux/wayland/keyboard_input.h"

namespace tovrin {

class DataControlClipboard final : public Pasteboard {
 public:
  void setString(const std::string& text) override;
  std::optional<std::string> string() override;
  [[nodiscard]] bool lastCopySucceeded() const { return lastCopy_; }

 private:
  bool lastCopy_ = true;
};

// Text pasted through the data-control clipboard: the user's clipboard is
// read before the first paste of a command and put back when its input is
// over (restore).
class DataControlPaste {
 public:
  // Puts `text` on the clipboard and has `pressPaste` press Ctrl+V.
  bool paste(const std::string& text, const std::function<bool()>& pressPaste);
  void restore();

 private:
  DataControlClipboard clipboard_;
  std::optional<std::optional<std::string>> saved_;  // the user's, while pasting
};

class VirtualKeyboardRoute final : public KeyRoute {
 public:
  bool chord(const std::vector<uint32_t>& modifiers, uint32_t key) override;
  bool typeCharacter(const std::string& character) override;
  void finish() override;
  std::string problem() override;

 private:
  DataControlPaste paste_;
};

namespace SwayIpc {
// Focuses the top-level window of the process; false when sway refused or
// does not answer.
bool focus(int32_t pid);
// The lines a user adds to sway's config to open the palette with a hotkey
// preset (its Carbon modifier mask on Space): sway gives programs no global
// shortcuts, so the binding runs `tovrin toggle`, and the palette floats.
std::vector<std::string> configLines(uint32_t carbonModifiers);
// wtype's words for a chord: ["-M", "ctrl", "-k", "l", "-m", "ctrl"].
std::vector<std::string> chordArguments(const std::vector<uint32_t>& modifiers, uint32_t key);
}  // namespace SwayIpc

// Runs a program and gives its standard output, or nothing when it could
// not run, failed or took longer than `seconds`.
std::optional<std::string> captureOutput(const std::vector<std::string>& argv, double seconds);

}  // namespace tovrin
