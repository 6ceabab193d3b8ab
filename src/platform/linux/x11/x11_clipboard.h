#pragma once

// The X11 CLIPBOARD selection as Tovrin's pasteboard. X keeps no clipboard
// of its own: the owner serves it. A copy therefore leaves a small process
// of its own behind that owns the selection and answers requests for it
// until another program takes the selection, as X clipboard tools do, so
// the text stays available after a `tovrin` command has exited.

#include <optional>
#include <string>

#include "accessibility/platform.h"

namespace tovrin {

class X11Clipboard final : public Pasteboard {
 public:
  void setString(const std::string& text) override;
  // The CLIPBOARD's text, or nothing when no owner answers within a second.
  std::optional<std::string> string() override;
  // Whether the last setString took the selection.
  [[nodiscard]] bool lastCopySucceeded() const { return lastCopy_; }

 private:
  bool lastCopy_ = true;
};

}  // namespace tovrin
