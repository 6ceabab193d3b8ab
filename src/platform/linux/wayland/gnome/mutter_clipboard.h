#pragma once

// The clipboard of a GNOME Wayland session. A Wayland clipboard is served
// by its owner, and mutter offers no clipboard to a program without a
// focused window except through a remote-desktop session; so a copy starts
// a small keeper program (tovrin-clipboard-keeper) that owns the clipboard
// through a session of its own and serves it until another program copies,
// detached from the command that started it. GNOME shows its sharing
// indicator while the keeper holds the clipboard.

#include <gio/gio.h>

#include <optional>
#include <string>

#include "accessibility/platform.h"

namespace tovrin {

class MutterClipboard final : public Pasteboard {
 public:
  explicit MutterClipboard(GDBusConnection* bus);
  ~MutterClipboard() override;
  void setString(const std::string& text) override;
  std::optional<std::string> string() override;
  [[nodiscard]] bool lastCopySucceeded() const { return lastCopy_; }

 private:
  GDBusConnection* bus_;
  bool lastCopy_ = true;
};

namespace ClipboardKeeper {
// The keeper program: beside this executable, in the build tree, or where
// it is installed. Empty when none is found.
std::string program();
// Starts a keeper serving `text`; true once it owns the clipboard.
bool start(const std::string& text);
// The keeper's own work, for its main(): serve the text read from standard
// input until another program takes the clipboard. Returns the exit code.
int run();
}  // namespace ClipboardKeeper

}  // namespace tovrin
