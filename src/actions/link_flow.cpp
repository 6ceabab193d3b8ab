// Opening pages from this one: every link about a topic as new tabs
// (confirming above three), or the article link.

#include <set>

#include "actions/action_engine.h"
#include "base/unicode.h"
#include "text/text_util.h"

namespace tovrin {
namespace {

using Kind = ActionResult::Kind;

bool onScreen(const PageElement& e) {
  return !e.frame || (e.frame->width > 0 && e.frame->height > 0);
}

// The scheme of an absolute address ("https" of "https://…"), lower-cased;
// nothing when the text is not an absolute address.
std::optional<std::string> scheme(const std::string& url) {
  std::size_t colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = url[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!letter && !(i > 0 && other)) return std::nullopt;
  }
  if (url.find_first_of(" \t\n") != std::string::npos) return std::nullopt;
  return unicode::lower(url.substr(0, colon));
}

}  // namespace

Outcome ActionEngine::openLinks(const std::string& query, const PageSnapshot& snap, Trail dbg) {
  std::vector<std::string> urls;
  std::vector<std::string> labels;
  std::set<std::string> seen;
  for (const PageElement& e : snap.elements) {
    if (e.role != "AXLink" || !onScreen(e) || ElementMatcher::score(e, query) < 50) continue;
    std::string url;
    if (auto value = AX::copy(e.element, "AXURL")) {
      if (const AXURL* u = std::get_if<AXURL>(&*value)) url = u->absolute;
      if (const std::string* s = std::get_if<std::string>(&*value)) url = *s;
    }
    auto s = scheme(url);
    if (!s || (*s != "https" && *s != "http") || !seen.insert(url).second) continue;
    urls.push_back(url);
    labels.push_back(e.label());
  }
  if (urls.empty())
    return Outcome{Display::result(Kind::failure, "No links mention “" + query + "”", dbg)};
  if (urls.size() > 15) {
    urls.resize(15);
    labels.resize(15);
  }
  auto open = [platform = target_.platform, bundle = target_.app.bundleID, urls, labels, query,
               dbg]() {
    if (!bundle.empty() && platform.workspace) platform.workspace->openURLs(urls, bundle);
    std::string body;
    for (std::size_t i = 0; i < labels.size(); ++i)
      body += (i > 0 ? "\n• " : "• ") + labels[i];
    const std::size_t n = urls.size();
    return Display::result(Kind::success,
                           "Opened **" + std::to_string(n) + "** link" + (n == 1 ? "" : "s") +
                               " mentioning “" + TextUtil::md(query) + "”",
                           dbg, body);
  };
  if (urls.size() > 3) {
    return Outcome{Confirmation{"Open " + std::to_string(urls.size()) + " links?",
                                "Each will open in a new " + browserName() + " tab.", "Open", dbg,
                                open}};
  }
  return Outcome{open()};
}

Outcome ActionEngine::openArticle(std::shared_ptr<const PageSnapshot> snap, Trail dbg) {
  if (auto focused = target_.focusedElement();
      focused && AX::str(AX::copy(*focused, "AXRole")) == "AXLink") {
    (void)AX::perform(*focused, "AXPress");
    return Outcome{Display::result(Kind::success, "Opened the focused link", dbg)};
  }
  const auto& elements = snap->elements;
  const PageElement* link = nullptr;
  for (const PageElement& e : elements) {
    if (e.role != "AXHeading" || !onScreen(e)) continue;
    if (e.parent && *e.parent >= 0 && static_cast<std::size_t>(*e.parent) < elements.size() &&
        elements[static_cast<std::size_t>(*e.parent)].role == "AXLink") {
      link = &elements[static_cast<std::size_t>(*e.parent)];
      break;
    }
    for (const PageElement& child : elements) {
      if (child.parent == e.id && child.role == "AXLink") {
        link = &child;
        break;
      }
    }
    if (link != nullptr) break;
  }
  if (link == nullptr) {
    for (const PageElement& e : elements) {
      if (e.role == "AXLink" && onScreen(e) && unicode::length(e.label()) >= 25) {
        link = &e;
        break;
      }
    }
  }
  if (link == nullptr)
    return Outcome{Display::result(Kind::failure, "Couldn't find an article link", dbg)};
  dbg.push_back("Article link: “" + link->label() + "”");
  return press(Match{*link, 60, "first heading link / long link"}, snap, dbg);
}

}  // namespace tovrin
