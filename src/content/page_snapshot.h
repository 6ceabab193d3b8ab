#pragma once

// Everything read from the browser for one command. Made once by capture()
// on the page-reading thread, then handed around by copy and never changed.

#include <optional>
#include <string>
#include <vector>

#include "accessibility/browser.h"
#include "accessibility/page_element.h"
#include "content/page_reader.h"

namespace tovrin {

struct PageSnapshot {
  std::string browserName;
  std::string windowTitle;
  std::string pageTitle;  // the web area's title, cleaned
  std::string url;
  std::optional<PageElement> webArea;  // as the window pass recorded it: its id indexes chrome
  std::vector<PageElement> elements;   // the page pass; the same as chrome without a web area
  std::vector<PageElement> chrome;     // the window pass, stopping at web areas
  std::vector<PageLine> lines;
  std::vector<PageChunk> chunks;
  double captureTime = 0;  // seconds, on the platform's clock

  // Reads the target's window; nothing only when the target has no window.
  // Blocks on accessibility requests: call it off the main thread.
  static std::optional<PageSnapshot> capture(const BrowserTarget& target);
  // The same, its time limits kept by `clock`: a clock that jumps ahead
  // ends the read at its next element.
  static std::optional<PageSnapshot> capture(const BrowserTarget& target, Clock& clock);

  // The page as plain text: "## Heading", "→ link", "[Button] …", "• item".
  [[nodiscard]] std::string text() const;
  // The heading of the section that holds element `id`, if any.
  [[nodiscard]] std::optional<std::string> sectionTitle(int id) const;

  // The trail lines a read adds: "Read 412 elements, 96 text lines in 0.38s"
  // and "Page: …" (nothing when there is no title at all).
  [[nodiscard]] std::string readSummary() const;
  [[nodiscard]] std::optional<std::string> pageLine() const;
};

}  // namespace tovrin
