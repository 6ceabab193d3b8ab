#pragma once

// The palette in a terminal: the real PaletteViewModel, one typed line at a
// time. Return runs a line; a confirmation is answered y or n, a choice
// with its number; "why" shows the trail, "reveal N" reveals a found item,
// "esc" is the Escape key. Phases are printed as they change.

#include <iosfwd>
#include <memory>
#include <string>

#include "scene_source.h"
#include "ui/palette_view_model.h"

namespace tovrin::cli {

class PaletteTerminal {
 public:
  PaletteTerminal(const Session& session, std::ostream& out);
  ~PaletteTerminal();
  PaletteTerminal(const PaletteTerminal&) = delete;
  PaletteTerminal& operator=(const PaletteTerminal&) = delete;

  [[nodiscard]] bool trusted() const;
  // Handles one line as the palette would; true when it ran a command or
  // answered a question (so something on the page may have changed).
  bool handle(const std::string& line);

 private:
  class Printer;
  const Session& session_;
  std::ostream& out_;
  std::shared_ptr<BrowserTracker> tracker_;
  std::shared_ptr<PaletteViewModel> vm_;
  std::unique_ptr<Printer> printer_;
};

}  // namespace tovrin::cli
