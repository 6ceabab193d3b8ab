#include "content/page_reader.h"

#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "accessibility/ax.h"
#include "base/unicode.h"
#include "text/text_util.h"

namespace tovrin {

std::string_view kindName(PageLine::Kind kind) {
  static constexpr std::array<std::string_view, 7> kNames = {"heading", "text",  "link", "button",
                                                             "field",   "image", "item"};
  return kNames[static_cast<std::size_t>(kind)];
}

namespace PageReader {
namespace {

using Kind = PageLine::Kind;

// Parents whose own line already says the text inside them.
bool isInlineParent(std::string_view role) {
  static constexpr std::array<std::string_view, 8> kRoles = {
      "AXLink",     "AXButton",      "AXHeading", "AXMenuItem",
      "AXCheckBox", "AXRadioButton", "AXTab",     "AXPopUpButton"};
  for (std::string_view r : kRoles) {
    if (r == role) return true;
  }
  return false;
}

// A decimal integer with an optional sign, nothing else.
std::optional<int> integer(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::string lowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool endsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The text line that later static texts and links of the same parent extend.
struct OpenRun {
  bool open = false;
  std::optional<int> parent;
  std::size_t line = 0;
};

const PageElement* parentIn(const PageElement& e, const std::vector<PageElement>& elements) {
  if (!e.parent || *e.parent < 0 || static_cast<std::size_t>(*e.parent) >= elements.size())
    return nullptr;
  return &elements[static_cast<std::size_t>(*e.parent)];
}

const PageElement* elementAt(int id, const std::vector<PageElement>& elements) {
  if (id < 0 || static_cast<std::size_t>(id) >= elements.size()) return nullptr;
  return &elements[static_cast<std::size_t>(id)];
}

// The nearest ancestor of one of these roles, within `levels`.
const PageElement* ancestorWith(const PageElement& e, const std::vector<PageElement>& elements,
                                std::string_view role, int levels) {
  const PageElement* current = &e;
  for (int step = 0; step < levels; ++step) {
    current = parentIn(*current, elements);
    if (current == nullptr) return nullptr;
    if (current->role == role) return current;
  }
  return nullptr;
}

// Links in a navigation landmark, or in a list of three or more lines that
// are all links (a site's menu bar), are chrome.
void markChrome(std::vector<PageLine>& out, const std::vector<PageElement>& elements) {
  struct ListLines {
    std::vector<std::size_t> lines;
    bool allLinks = true;
  };
  std::unordered_map<int, ListLines> lists;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const PageElement* e = elementAt(out[i].elementID, elements);
    if (e == nullptr) continue;
    if (out[i].kind == Kind::link && inChromeLandmark(*e, elements)) out[i].chrome = true;
    if (const PageElement* list = ancestorWith(*e, elements, "AXList", 4)) {
      ListLines& l = lists[list->id];
      l.lines.push_back(i);
      l.allLinks = l.allLinks && out[i].kind == Kind::link;
    }
  }
  for (const auto& [id, l] : lists) {
    if (!l.allLinks || l.lines.size() < 3) continue;
    for (std::size_t i : l.lines)
      out[i].chrome = true;
  }
}

}  // namespace

std::vector<PageLine> contextLines(const std::vector<PageLine>& lines,
                                   const std::vector<PageElement>& elements) {
  std::vector<PageLine> out;
  std::optional<int> openRow;  // the row whose cells the last line joins
  bool labelOpen = false;      // the last line is a label waiting for its value
  for (const PageLine& line : lines) {
    const PageElement* e = elementAt(line.elementID, elements);
    const PageElement* row = e ? ancestorWith(*e, elements, "AXRow", 4) : nullptr;
    const bool joinable =
        line.kind != Kind::heading && !out.empty() && out.back().kind != Kind::heading;
    if (joinable && row != nullptr && openRow == row->id) {
      // A cell that ends in a colon labels the next one; others are parted.
      const bool labelled = out.back().text.ends_with(":");
      out.back().text += labelled ? " " : " · ";
      out.back().text += line.text;
      out.back().chrome = out.back().chrome && line.chrome;
      labelOpen = false;
      continue;
    }
    if (joinable && labelOpen && row == nullptr &&
        (line.kind == Kind::text || line.kind == Kind::link || line.kind == Kind::item)) {
      out.back().text += " " + line.text;
      labelOpen = false;
      openRow.reset();
      continue;
    }
    out.push_back(line);
    openRow = row ? std::optional<int>(row->id) : std::nullopt;
    labelOpen =
        line.kind == Kind::text && line.text.ends_with(":") && unicode::length(line.text) <= 40;
  }
  return out;
}

std::vector<PageLine> lines(const std::vector<PageElement>& elements) {
  std::vector<PageLine> out;
  std::unordered_set<std::string> seen;  // dedupe keys of links and buttons
  OpenRun run;

  auto parentOf = [&](const PageElement& e) -> const PageElement* {
    if (!e.parent || *e.parent < 0 || static_cast<std::size_t>(*e.parent) >= elements.size()) {
      return nullptr;
    }
    return &elements[static_cast<std::size_t>(*e.parent)];
  };
  // Whether the parent is an inline element whose label already holds `text`.
  auto saidByParent = [&](const PageElement& e, const std::string& text) {
    const PageElement* p = parentOf(e);
    if (p == nullptr || !isInlineParent(p->role)) return false;
    std::string parentNorm = TextUtil::norm(p->label());
    return !parentNorm.empty() && parentNorm.find(TextUtil::norm(text)) != std::string::npos;
  };
  // Appends to the open run's line when it continues the same parent's text.
  auto mergeIntoRun = [&](const PageElement& e, const std::string& text) {
    if (!run.open || run.parent != e.parent || out[run.line].kind != Kind::text) return false;
    // Punctuation closes up to the words before it: "or strings." not "or strings .".
    static constexpr std::string_view kClosing = ".,;:!?)]";
    if (kClosing.find(text.front()) == std::string_view::npos) out[run.line].text += ' ';
    out[run.line].text += text;
    return true;
  };
  auto append = [&](std::string text, const PageElement& e, Kind kind, int level = 0) {
    out.push_back(PageLine{std::move(text), e.id, kind, level});
  };

  const std::vector<bool> folded = labelsOfControls(elements);
  for (const PageElement& e : elements) {
    if (e.frame && (!(std::fabs(e.frame->width) > 0) || !(std::fabs(e.frame->height) > 0)))
      continue;
    // A control's label is said on the control's own line.
    if (folded[static_cast<std::size_t>(&e - elements.data())]) continue;
    const std::string label = e.label();
    const std::string& role = e.role;

    if (role == "AXHeading") {
      if (label.empty()) continue;
      std::optional<int> level = integer(e.value);
      if (!level) level = integer(AX::str(AX::copy(e.element, "AXValue")));
      append(label, e, Kind::heading, level.value_or(2));
      run.open = false;
    } else if (role == "AXStaticText") {
      std::string text;
      for (const std::string* candidate : {&e.value, &e.title, &e.desc}) {
        text = TextUtil::clean(*candidate);
        if (!text.empty()) break;
      }
      if (text.empty() || saidByParent(e, text)) continue;
      if (mergeIntoRun(e, text)) continue;
      const PageElement* p = parentOf(e);
      Kind kind = (p != nullptr && p->role == "AXListItem") ? Kind::item : Kind::text;
      append(std::move(text), e, kind);
      if (kind == Kind::text) {
        run = OpenRun{true, e.parent, out.size() - 1};
      } else {
        run.open = false;
      }
    } else if (role == "AXLink") {
      if (label.empty()) continue;
      if (mergeIntoRun(e, label)) continue;
      // Long labels are specific enough to keep every time they appear.
      if (unicode::length(label) <= 39) {
        if (!seen.insert("l:" + TextUtil::norm(label)).second) continue;
      }
      append(label, e, Kind::link);
      run.open = false;
    } else if (role == "AXButton" || role == "AXPopUpButton" || role == "AXMenuButton") {
      if (label.empty()) continue;
      if (!seen.insert("b:" + TextUtil::norm(label)).second) continue;
      append(label, e, Kind::button);
      run.open = false;
    } else if (role == "AXCheckBox" || role == "AXRadioButton") {
      if (label.empty()) continue;
      bool checked = e.value == "1" || lowerAscii(e.value) == "true";
      append((checked ? "☑ " : "☐ ") + label, e, Kind::field);
      run.open = false;
    } else if (Roles::textInput(role)) {
      std::string shown = e.subrole == "AXSecureTextField" ? "" : TextUtil::clean(e.value);
      std::string text = label.empty() ? "text field" : label;
      if (!shown.empty()) text += ": " + shown;
      append(std::move(text), e, Kind::field);
      run.open = false;
    } else if (role == "AXImage") {
      std::string alt = TextUtil::clean(e.desc.empty() ? e.title : e.desc);
      std::string lowered = unicode::lower(alt);
      if (unicode::length(alt) < 4 || endsWith(lowered, ".png") || endsWith(lowered, ".jpg"))
        continue;
      if (saidByParent(e, alt)) continue;
      append(std::move(alt), e, Kind::image);
      run.open = false;
    }
  }
  markChrome(out, elements);
  return out;
}

std::vector<PageChunk> chunks(const std::vector<PageLine>& lines, std::size_t maxChars) {
  std::vector<PageChunk> out;
  if (lines.empty()) return out;
  std::string heading;
  std::vector<const std::string*> buffer;
  std::size_t count = 0;
  int firstID = lines.front().elementID;

  std::size_t chromeLines = 0;
  auto flush = [&] {
    std::string joined;
    for (std::size_t i = 0; i < buffer.size(); ++i) {
      if (i > 0) joined += '\n';
      joined += *buffer[i];
    }
    const double share =
        buffer.empty() ? 0 : static_cast<double>(chromeLines) / static_cast<double>(buffer.size());
    if (!TextUtil::clean(joined).empty())
      out.push_back(PageChunk{heading, std::move(joined), firstID, share});
    chromeLines = 0;
  };

  for (const PageLine& line : lines) {
    std::size_t length = unicode::length(line.text);
    if (line.kind == Kind::heading) {
      flush();
      heading = line.text;
      buffer = {&line.text};
      count = length;
      firstID = line.elementID;
      continue;
    }
    if (!buffer.empty() && count + length > maxChars) {
      flush();
      buffer.clear();
      count = 0;
    }
    if (buffer.empty()) firstID = line.elementID;
    buffer.push_back(&line.text);
    if (line.chrome) ++chromeLines;
    count += length;
  }
  flush();
  return out;
}

}  // namespace PageReader
}  // namespace tovrin
