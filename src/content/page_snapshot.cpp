#include "content/page_snapshot.h"

#include <algorithm>
#include <cstdio>

#include "accessibility/ax.h"
#include "accessibility/crawler.h"
#include "base/unicode.h"
#include "text/text_util.h"

namespace tovrin {

namespace {
constexpr Crawler::Limits kWindowPass{
    .stopAtWebArea = true, .maxNodes = 3000, .maxDepth = 40, .timeLimit = 4.0};
constexpr Crawler::Limits kPagePass{
    .stopAtWebArea = false, .maxNodes = 6000, .maxDepth = 80, .timeLimit = 6.0};
constexpr std::size_t kChunkCharacters = 900;
}  // namespace

std::optional<PageSnapshot> PageSnapshot::capture(const BrowserTarget& target) {
  if (!target.platform.clock) return std::nullopt;
  return capture(target, *target.platform.clock);
}

std::optional<PageSnapshot> PageSnapshot::capture(const BrowserTarget& target, Clock& clock) {
  const double start = clock.now();
  std::optional<AXElement> window = target.window();
  if (!window) return std::nullopt;

  PageSnapshot snap;
  snap.windowTitle = AX::str(AX::copy(*window, "AXTitle"));
  snap.chrome = Crawler::crawl(*window, kWindowPass, clock);
  std::vector<PageElement> webAreas;
  for (const PageElement& e : snap.chrome) {
    if (e.role == "AXWebArea") webAreas.push_back(e);
  }
  snap.webArea = target.adapter->pickWebArea(webAreas);
  Crawler::Limits pagePass = kPagePass;
  if (target.platform.accessibility)
    pagePass.maxNodes = target.platform.accessibility->pageElementCap(kPagePass.maxNodes);
  snap.elements =
      snap.webArea ? Crawler::crawl(snap.webArea->element, pagePass, clock) : snap.chrome;
  snap.lines = PageReader::lines(snap.elements);
  // Answers and summaries read rows and labelled values whole.
  snap.chunks =
      PageReader::chunks(PageReader::contextLines(snap.lines, snap.elements), kChunkCharacters);
  if (snap.webArea) {
    if (auto url = AX::copy(snap.webArea->element, "AXURL")) {
      if (const AXURL* u = std::get_if<AXURL>(&*url)) {
        snap.url = u->absolute;
      } else if (const std::string* s = std::get_if<std::string>(&*url)) {
        snap.url = *s;
      }
    }
    snap.pageTitle = TextUtil::clean(snap.webArea->title);
  }
  snap.browserName = target.browserName();
  snap.captureTime = clock.now() - start;
  return snap;
}

std::string PageSnapshot::text() const {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const PageLine& line = lines[i];
    if (i > 0) out += '\n';
    switch (line.kind) {
      case PageLine::Kind::heading:
        out += '\n';
        out += std::string(static_cast<std::size_t>(std::clamp(line.level, 1, 4)), '#');
        out += ' ';
        break;
      case PageLine::Kind::text:
        break;
      case PageLine::Kind::link:
        out += "→ ";
        break;
      case PageLine::Kind::button:
        out += "[Button] ";
        break;
      case PageLine::Kind::field:
        out += "[Field] ";
        break;
      case PageLine::Kind::image:
        out += "[Image] ";
        break;
      case PageLine::Kind::item:
        out += "• ";
        break;
    }
    out += line.text;
  }
  return unicode::trimWhitespace(out);
}

std::optional<std::string> PageSnapshot::sectionTitle(int id) const {
  std::optional<std::string> heading;
  for (const PageLine& line : lines) {
    if (line.elementID > id) break;
    if (line.kind == PageLine::Kind::heading) heading = line.text;
  }
  return heading;
}

std::string PageSnapshot::readSummary() const {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "Read %zu elements, %zu text lines in %.2fs",
                elements.size(), lines.size(), captureTime);
  std::string out = buffer;
  if (!webArea) out += " (no web area found — using whole window)";
  return out;
}

std::optional<std::string> PageSnapshot::pageLine() const {
  const std::string& title = pageTitle.empty() ? windowTitle : pageTitle;
  if (title.empty()) return std::nullopt;
  return "Page: " + title;
}

}  // namespace tovrin
