#include "platform/linux/atspi/atspi_mapping.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace tovrin::atspi {
namespace {

// A password's bullets stop here: only whether it changed matters.
constexpr int32_t kMaxValueBullets = 1000;

constexpr std::array<std::string_view, 131> kRoleNicks = {"invalid",
                                                          "accelerator label",
                                                          "alert",
                                                          "animation",
                                                          "arrow",
                                                          "calendar",
                                                          "canvas",
                                                          "check box",
                                                          "check menu item",
                                                          "color chooser",
                                                          "column header",
                                                          "combo box",
                                                          "date editor",
                                                          "desktop icon",
                                                          "desktop frame",
                                                          "dial",
                                                          "dialog",
                                                          "directory pane",
                                                          "drawing area",
                                                          "file chooser",
                                                          "filler",
                                                          "focus traversable",
                                                          "font chooser",
                                                          "frame",
                                                          "glass pane",
                                                          "html container",
                                                          "icon",
                                                          "image",
                                                          "internal frame",
                                                          "label",
                                                          "layered pane",
                                                          "list",
                                                          "list item",
                                                          "menu",
                                                          "menu bar",
                                                          "menu item",
                                                          "option pane",
                                                          "page tab",
                                                          "page tab list",
                                                          "panel",
                                                          "password text",
                                                          "popup menu",
                                                          "progress bar",
                                                          "push button",
                                                          "radio button",
                                                          "radio menu item",
                                                          "root pane",
                                                          "row header",
                                                          "scroll bar",
                                                          "scroll pane",
                                                          "separator",
                                                          "slider",
                                                          "spin button",
                                                          "split pane",
                                                          "status bar",
                                                          "table",
                                                          "table cell",
                                                          "table column header",
                                                          "table row header",
                                                          "tearoff menu item",
                                                          "terminal",
                                                          "text",
                                                          "toggle button",
                                                          "tool bar",
                                                          "tool tip",
                                                          "tree",
                                                          "tree table",
                                                          "unknown",
                                                          "viewport",
                                                          "window",
                                                          "extended",
                                                          "header",
                                                          "footer",
                                                          "paragraph",
                                                          "ruler",
                                                          "application",
                                                          "autocomplete",
                                                          "editbar",
                                                          "embedded",
                                                          "entry",
                                                          "chart",
                                                          "caption",
                                                          "document frame",
                                                          "heading",
                                                          "page",
                                                          "section",
                                                          "redundant object",
                                                          "form",
                                                          "link",
                                                          "input method window",
                                                          "table row",
                                                          "tree item",
                                                          "document spreadsheet",
                                                          "document presentation",
                                                          "document text",
                                                          "document web",
                                                          "document email",
                                                          "comment",
                                                          "list box",
                                                          "grouping",
                                                          "image map",
                                                          "notification",
                                                          "info bar",
                                                          "level bar",
                                                          "title bar",
                                                          "block quote",
                                                          "audio",
                                                          "video",
                                                          "definition",
                                                          "article",
                                                          "landmark",
                                                          "log",
                                                          "marquee",
                                                          "math",
                                                          "rating",
                                                          "timer",
                                                          "static",
                                                          "math fraction",
                                                          "math root",
                                                          "subscript",
                                                          "superscript",
                                                          "description list",
                                                          "description term",
                                                          "description value",
                                                          "footnote",
                                                          "content deletion",
                                                          "content insertion",
                                                          "mark",
                                                          "suggestion",
                                                          "push button menu"};

// Roles Tovrin treats as plain containers of a page.
bool isGroupRole(uint32_t role) {
  switch (role) {
    case 2:    // alert
    case 20:   // filler
    case 25:   // html container
    case 28:   // internal frame
    case 29:   // label
    case 36:   // option pane
    case 39:   // panel
    case 46:   // root pane
    case 53:   // split pane
    case 54:   // status bar
    case 68:   // viewport
    case 71:   // header
    case 72:   // footer
    case 73:   // paragraph
    case 81:   // caption
    case 84:   // page
    case 85:   // section
    case 87:   // form
    case 97:   // comment
    case 99:   // grouping
    case 101:  // notification
    case 102:  // info bar
    case 105:  // block quote
    case 108:  // definition
    case 109:  // article
    case 110:  // landmark
    case 111:  // log
    case 112:  // marquee
    case 113:  // math
    case 115:  // timer
    case 117:  // math fraction
    case 118:  // math root
    case 119:  // subscript
    case 120:  // superscript
    case 121:  // description list
    case 122:  // description term
    case 123:  // description value
    case 124:  // footnote
    case 125:  // content deletion
    case 126:  // content insertion
    case 127:  // mark
    case 128:  // suggestion
      return true;
    default:
      return false;
  }
}

std::string attribute(const NodeInfo& node, const std::string& key) {
  if (!node.attributes) return {};
  auto it = node.attributes->find(key);
  return it == node.attributes->end() ? std::string() : it->second;
}

bool isSwitch(const NodeInfo& node) {
  return node.role == Role::kToggleButton && attribute(node, "xml-roles") == "switch";
}

bool isTextField(uint32_t role) {
  return role == Role::kEntry || role == Role::kPasswordText || role == Role::kSpinButton;
}

// GTK's socket and WebKit's plug answer with no state at all; in the
// browsers' own trees an empty state set is a real one.
bool statesUntold(const NodeInfo& node, Toolkit toolkit) {
  return node.hasStates && node.states == 0 &&
         (toolkit == Toolkit::other || toolkit == Toolkit::webkit);
}

bool isStaticLeaf(const NodeInfo& node, Toolkit toolkit) {
  if (node.synthetic) return true;
  // Gecko's and WebKit's static objects (strong, alt text) carry their
  // words in their text; Chromium's in their name.
  return node.role == Role::kStatic && toolkit != Toolkit::gecko && toolkit != Toolkit::webkit;
}

}  // namespace

Toolkit toolkitFromName(std::string_view name) {
  if (name == "Chromium" || name == "Chrome") return Toolkit::chromium;
  if (name == "Gecko") return Toolkit::gecko;
  if (name == "WebKitGTK") return Toolkit::webkit;
  return Toolkit::other;
}

std::string roleNick(uint32_t role) {
  return role < kRoleNicks.size() ? std::string(kRoleNicks[role]) : "role " + std::to_string(role);
}

AXRoleNames axRole(const NodeInfo& node) {
  if (node.synthetic) return {"AXStaticText", ""};
  if (!node.role) return {};
  const uint32_t role = *node.role;
  switch (role) {
    case Role::kDocumentWeb:
    case Role::kDocumentFrame:
      return {"AXWebArea", ""};
    case Role::kFrame:
    case Role::kWindow:
      return {"AXWindow", ""};
    case Role::kDialog:
      return {"AXGroup", "AXApplicationDialog"};
    case Role::kPushButton:
    case Role::kPushButtonMenu:
      return {"AXButton", ""};
    case Role::kToggleButton:
      if (isSwitch(node)) return {"AXCheckBox", "AXSwitch"};
      return {"AXButton", "AXToggle"};
    case Role::kLink:
      return {"AXLink", ""};
    case Role::kHeading:
      return {"AXHeading", ""};
    case Role::kStatic:
    case Role::kText:
      return {"AXStaticText", ""};
    case Role::kEntry:
    case Role::kSpinButton: {
      const std::string type = attribute(node, "text-input-type");
      // WebKit tells a search field only by its computed role.
      const bool search = type == "search" || attribute(node, "xml-roles") == "searchbox" ||
                          attribute(node, "computed-role") == "searchbox";
      if (node.has(State::kMultiLine)) return {"AXTextArea", ""};
      return {search ? "AXSearchField" : "AXTextField", search ? "AXSearchField" : ""};
    }
    case Role::kPasswordText:
      return {"AXTextField", "AXSecureTextField"};
    case Role::kComboBox:
      return {node.has(State::kEditable) ? "AXComboBox" : "AXPopUpButton", ""};
    case Role::kCheckBox:
      return {"AXCheckBox", ""};
    case Role::kRadioButton:
      return {"AXRadioButton", ""};
    case 35:  // menu item
    case Role::kCheckMenuItem:
    case 45:  // radio menu item
    case 59:  // tearoff menu item
      return {"AXMenuItem", ""};
    case Role::kPageTab:
      return {"AXTab", ""};
    case 38:  // page tab list
      return {"AXTabGroup", ""};
    case Role::kImage:
    case 26:   // icon
    case 6:    // canvas
    case 100:  // image map
      return {"AXImage", ""};
    case Role::kListItem:
      return {"AXListItem", ""};
    case 31:  // list
    case 98:  // list box
      return {"AXList", ""};
    case 49:  // scroll pane
      return {"AXScrollArea", ""};
    case 56:  // table cell
    case 10:  // column header
    case 47:  // row header
    case 57:  // table column header
    case 58:  // table row header
      return {"AXCell", ""};
    case 90:  // table row
    case 91:  // tree item
      return {"AXRow", ""};
    case 55:  // table
      return {"AXTable", ""};
    case 65:  // tree
    case 66:  // tree table
      return {"AXOutline", ""};
    case 63:  // tool bar
      return {"AXToolbar", ""};
    case 34:  // menu bar
      return {"AXMenuBar", ""};
    case 33:  // menu
    case 41:  // popup menu
      return {"AXMenu", ""};
    case 50:  // separator
      return {"AXSplitter", ""};
    case 51:  // slider
      return {"AXSlider", ""};
    case 42:   // progress bar
    case 103:  // level bar
      return {"AXProgressIndicator", ""};
    case 48:  // scroll bar
      return {"AXScrollBar", ""};
    case Role::kApplication:
      return {"AXApplication", ""};
    case Role::kLabel:
      // A label is told apart so that one naming a control folds into it.
      return {"AXGroup", "AXLabel"};
    case Role::kLandmark: {
      // Which landmark tells page chrome (navigation, banner, footer) from
      // the page's own content.
      const std::string kind = attribute(node, "xml-roles");
      if (kind == "navigation") return {"AXGroup", "AXLandmarkNavigation"};
      if (kind == "banner") return {"AXGroup", "AXLandmarkBanner"};
      if (kind == "contentinfo") return {"AXGroup", "AXLandmarkContentInfo"};
      if (kind == "main") return {"AXGroup", "AXLandmarkMain"};
      if (kind == "search") return {"AXGroup", "AXLandmarkSearch"};
      return {"AXGroup", ""};
    }
    case 64:  // tool tip
      return {"AXHelpTag", ""};
    case 106:  // audio
    case 107:  // video
      return {"AXGroup", ""};
    default:
      return {isGroupRole(role) ? "AXGroup" : "AXUnknown", ""};
  }
}

bool keepsTextInContainer(uint32_t role, Toolkit toolkit) {
  if (toolkit == Toolkit::other) return false;
  if (isGroupRole(role)) return role != 28;  // an internal frame holds a document, not text
  switch (role) {
    case Role::kStatic:
      // Chromium's static objects are its text leaves, each read whole.
      return toolkit != Toolkit::chromium;
    case Role::kHeading:
    case Role::kLink:
    case Role::kListItem:
    case Role::kDocumentWeb:
    case Role::kDocumentFrame:
    case 56:  // table cell
    case 10:  // column header
    case 47:  // row header
    case 57:
    case 58:
    case 31:  // list (bullets of some lists)
      return true;
    default:
      return false;
  }
}

Needs needsFor(const std::vector<std::string>& attributes, uint32_t role, Toolkit toolkit,
               bool withActions, bool bulk, bool inPage) {
  Needs needs;
  needs.actions = withActions;
  NodeInfo probe;
  probe.role = role;
  const bool leaf = isStaticLeaf(probe, toolkit);
  const bool textContainer = (isGroupRole(role) && role != 28) || role == Role::kHeading ||
                             role == Role::kListItem || role == 31 || role == Role::kStatic;
  needs.states = !(bulk && (leaf || (inPage && textContainer)));
  const bool field = isTextField(role) || role == Role::kComboBox;
  for (const std::string& name : attributes) {
    if (name == "AXRole" || name == "AXSubrole") {
      if (role == Role::kEntry || role == Role::kSpinButton || role == Role::kToggleButton ||
          role == Role::kLandmark) {
        needs.attributes = true;
      }
    } else if (name == "AXTitle") {
      // Words inside a paragraph are read from their text, as Chromium's
      // leaves are; their name is almost never set.
      if (!leaf && !(bulk && inPage && role == Role::kStatic)) needs.name = true;
    } else if (name == "AXDescription") {
      if (role == Role::kImage || role == 26) needs.name = true;
    } else if (name == "AXHelp") {
      // A paragraph's or section's description is rarely set and never
      // what a command names; controls' are read.
      if (!leaf && !(bulk && inPage && textContainer)) needs.description = true;
    } else if (name == "AXValue") {
      // Never ask for a password; its length tells a single read (typing's
      // check) that the keys arrived.
      if (role == Role::kPasswordText) {
        needs.characterCount = !bulk;
        continue;
      }
      if (leaf) {
        needs.name = true;
      } else if (role == Role::kStatic || role == Role::kText || isTextField(role) ||
                 role == Role::kComboBox) {
        needs.text = true;
      } else if (role == Role::kHeading) {
        needs.attributes = true;
      } else if (role == Role::kToggleButton) {
        needs.attributes = true;
      }
    } else if (name == "AXPlaceholderValue") {
      if (field) needs.attributes = true;
    } else if (name == "AXIdentifier") {
      needs.attributes = true;
    } else if (name == "AXPosition" || name == "AXSize") {
      // Words inside a paragraph (Gecko's and WebKit's <code>, <em>) are
      // placed by their paragraph, as Chromium's text leaves are.
      if (!(bulk && (leaf || (inPage && role == Role::kStatic)))) needs.extents = true;
    } else if (name == "AXChildren") {
      // Chromium's text leaves have no children worth a request.
      if (!leaf) needs.children = true;
      if (keepsTextInContainer(role, toolkit)) needs.text = true;
    } else if (name == "AXParent") {
      needs.parent = true;
    }
  }
  return needs;
}

std::vector<std::string> axActions(const std::vector<std::string>& raw) {
  static constexpr std::array<std::string_view, 14> kPress = {
      "press", "click",  "jump",   "activate", "toggle", "check",          "uncheck",
      "open",  "select", "expand", "collapse", "switch", "press and hold", "submit"};
  std::vector<std::string> out;
  bool press = false, menu = false;
  for (const std::string& name : raw) {
    if (std::find(kPress.begin(), kPress.end(), name) != kPress.end()) press = true;
    if (name == "showContextMenu" || name == "menu" || name == "showmenu") menu = true;
  }
  if (press) out.emplace_back("AXPress");
  if (menu) out.emplace_back("AXShowMenu");
  return out;
}

std::optional<int> rawActionIndex(const std::vector<std::string>& raw, std::string_view axAction) {
  for (std::size_t i = 0; i < raw.size(); ++i) {
    std::vector<std::string> mapped = axActions({raw[i]});
    if (std::find(mapped.begin(), mapped.end(), axAction) != mapped.end()) {
      return static_cast<int>(i);
    }
  }
  return std::nullopt;
}

bool hidden(const NodeInfo& node, Toolkit toolkit) {
  if (node.synthetic || !node.hasStates || statesUntold(node, toolkit)) return false;
  if (toolkit == Toolkit::webkit && node.role == Role::kScrollPane) return false;
  if (!node.has(State::kVisible)) return true;
  const bool webArea = node.role == Role::kDocumentWeb || node.role == Role::kDocumentFrame;
  return webArea && toolkit != Toolkit::webkit && !node.has(State::kShowing);
}

bool mayHoldPoint(const NodeInfo& node, Toolkit toolkit, int32_t x, int32_t y) {
  if (hidden(node, toolkit)) return false;
  if (statesUntold(node, toolkit) ||
      (toolkit == Toolkit::webkit && node.role == Role::kScrollPane)) {
    return true;
  }
  if (!node.has(State::kShowing) || !node.extents) return false;
  const auto& e = *node.extents;
  return x >= e[0] && y >= e[1] && x < e[0] + e[2] && y < e[1] + e[3];
}

std::optional<AXValue> axValue(std::string_view attributeName, const NodeInfo& node,
                               Toolkit toolkit) {
  const uint32_t role = node.role.value_or(0);
  const bool leaf = isStaticLeaf(node, toolkit);
  const bool image = role == Role::kImage || role == 26;
  if (attributeName == "AXRole" || attributeName == "AXSubrole") {
    AXRoleNames names = axRole(node);
    const std::string& out = attributeName == "AXRole" ? names.role : names.subrole;
    if (out.empty()) return std::nullopt;
    return AXValue(out);
  }
  if (attributeName == "AXTitle") {
    if (leaf || image || !node.name) return std::nullopt;
    if (role == Role::kListItem && toolkit == Toolkit::gecko) {
      return AXValue(node.name->substr(listMarkerLength(*node.name)));
    }
    if (role == Role::kPageTab && toolkit == Toolkit::chromium) {
      // Chromium's tab names carry its hover card: "Title - Memory usage - 23.2 MB".
      const std::size_t card = node.name->rfind(" - Memory usage - ");
      if (card != std::string::npos && card > 0) return AXValue(node.name->substr(0, card));
    }
    return AXValue(*node.name);
  }
  if (attributeName == "AXDescription") {
    if (image && node.name) return AXValue(*node.name);
    return std::nullopt;
  }
  if (attributeName == "AXHelp") {
    if (leaf || !node.description || node.description->empty()) return std::nullopt;
    return AXValue(*node.description);
  }
  if (attributeName == "AXValue") {
    if (role == Role::kPasswordText) {
      // Shown as the field shows it: a bullet for each character.
      if (!node.characterCount || *node.characterCount <= 0) return std::nullopt;
      std::string bullets;
      for (int32_t i = 0; i < std::min<int32_t>(*node.characterCount, kMaxValueBullets); ++i)
        bullets += "\u2022";
      return AXValue(std::move(bullets));
    }
    if (node.synthetic) return node.text ? std::optional<AXValue>(*node.text) : std::nullopt;
    if (leaf) return node.name ? std::optional<AXValue>(*node.name) : std::nullopt;
    if (role == Role::kStatic || role == Role::kText || isTextField(role) ||
        role == Role::kComboBox) {
      if (role == Role::kStatic && node.text &&
          node.text->find("\xEF\xBF\xBC") != std::string::npos) {
        return std::nullopt;  // its words are in the children made from it
      }
      return node.text ? std::optional<AXValue>(*node.text) : std::nullopt;
    }
    if (role == Role::kHeading) {
      const std::string level = attribute(node, "level");
      if (level.empty()) return std::nullopt;
      char* end = nullptr;
      const double n = std::strtod(level.c_str(), &end);
      if (end == level.c_str()) return std::nullopt;
      return AXValue(AXNumber{n});
    }
    if (role == Role::kCheckBox || role == Role::kRadioButton || role == Role::kCheckMenuItem ||
        isSwitch(node)) {
      if (!node.hasStates) return std::nullopt;
      if (node.has(State::kIndeterminate)) return AXValue(AXNumber{2});
      return AXValue(AXNumber{node.has(State::kChecked) || node.has(State::kPressed) ? 1.0 : 0.0});
    }
    return std::nullopt;
  }
  if (attributeName == "AXPlaceholderValue") {
    std::string text = attribute(node, "placeholder-text");
    if (text.empty()) return std::nullopt;
    return AXValue(text);
  }
  if (attributeName == "AXIdentifier") {
    std::string id = attribute(node, "id");
    if (id.empty()) return std::nullopt;
    return AXValue(id);
  }
  if (attributeName == "AXEnabled") {
    if (node.synthetic) return AXValue(true);
    if (!node.hasStates) return std::nullopt;
    return AXValue(node.has(State::kEnabled) || node.has(State::kSensitive));
  }
  if (attributeName == "AXFocused") {
    if (!node.hasStates) return std::nullopt;
    return AXValue(node.has(State::kFocused));
  }
  if (attributeName == "AXHidden") {
    return AXValue(hidden(node, toolkit));
  }
  if (attributeName == "AXPosition" || attributeName == "AXSize") {
    if (!node.extents) return std::nullopt;
    auto e = *node.extents;
    // Firefox reports -1 for extents it does not know.
    if (e[2] < 0 || e[3] < 0) return std::nullopt;
    if (node.view && (*node.view)[2] > 0 && (*node.view)[3] > 0) {
      const auto& v = *node.view;
      const int32_t left = std::max(e[0], v[0]), top = std::max(e[1], v[1]);
      const int32_t right = std::min(e[0] + e[2], v[0] + v[2]);
      const int32_t bottom = std::min(e[1] + e[3], v[1] + v[3]);
      e = {left, top, std::max(right - left, 0), std::max(bottom - top, 0)};
    }
    if (attributeName == "AXPosition") return AXValue(AXPoint{double(e[0]), double(e[1])});
    return AXValue(AXSize{double(e[2]), double(e[3])});
  }
  return std::nullopt;
}

std::string withoutSurrogatePadding(std::string text) {
  static constexpr std::string_view kPadding = "\xEF\xBB\xBF";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = (c >> 3) == 0x1E ? 4 : 1;
    out.append(text, i, length);
    i += length;
    if (length == 4 && std::string_view(text).substr(i, 3) == kPadding) i += 3;
  }
  return out;
}

std::size_t listMarkerLength(std::string_view text) {
  static constexpr std::string_view kBullets[] = {"•", "◦", "▪", "▫", "‣", "⁃", "–", "—",
                                                  "-", "*", "·", "■", "□", "○", "●"};
  std::size_t i = 0;
  bool found = false;
  for (std::string_view bullet : kBullets) {
    if (text.substr(0, bullet.size()) == bullet) {
      i = bullet.size();
      found = true;
      break;
    }
  }
  if (!found) {
    // "12." "b)" "iv." — a number, one letter or a roman numeral, then . or )
    std::size_t j = 0;
    while (j < text.size() && j < 8 && std::isalnum(static_cast<unsigned char>(text[j])))
      ++j;
    if (j == 0 || j >= text.size() || (text[j] != '.' && text[j] != ')')) return 0;
    std::string_view word = text.substr(0, j);
    const bool digits = word.find_first_not_of("0123456789") == std::string_view::npos;
    const bool roman = word.find_first_not_of("ivxlcdmIVXLCDM") == std::string_view::npos;
    if (!digits && !roman && j != 1) return 0;
    i = j + 1;
  }
  // A marker stands apart from the words after it.
  if (i < text.size() && text[i] != ' ' && text[i] != '\t' && text.substr(i, 2) != "\xC2\xA0")
    return 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
    ++i;
  if (text.substr(i, 2) == "\xC2\xA0") i += 2;
  return i;
}

std::optional<std::vector<TextPiece>> splitHypertext(std::string_view text,
                                                     std::size_t childCount) {
  static constexpr std::string_view kEmbedded = "\xEF\xBF\xBC";
  std::vector<TextPiece> pieces;
  std::size_t embedded = 0;
  bool words = false;
  std::size_t start = 0;
  auto flush = [&](std::size_t end) {
    if (end <= start) return;
    std::string_view run = text.substr(start, end - start);
    if (run.find_first_not_of(" \t\n\r\f\v") == std::string_view::npos) return;
    words = true;
    pieces.push_back({-1, std::string(run)});
  };
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, kEmbedded.size(), kEmbedded) == 0) {
      flush(i);
      pieces.push_back({static_cast<int>(embedded++), {}});
      i += kEmbedded.size();
      start = i;
    } else {
      ++i;
    }
  }
  flush(text.size());
  if (embedded != childCount || !words) return std::nullopt;
  return pieces;
}

std::optional<std::vector<bool>> textLeavesByPosition(std::string_view text,
                                                      std::size_t childCount) {
  static constexpr std::string_view kEmbedded = "\xEF\xBF\xBC";
  std::vector<bool> leaves;
  bool inRun = false;
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, kEmbedded.size(), kEmbedded) == 0) {
      leaves.push_back(false);
      inRun = false;
      i += kEmbedded.size();
    } else {
      if (!inRun) leaves.push_back(true);
      inRun = true;
      ++i;
    }
  }
  if (leaves.size() != childCount) return std::nullopt;
  return leaves;
}

}  // namespace tovrin::atspi
