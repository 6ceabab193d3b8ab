#pragma once

// How AT-SPI's view of an element becomes the attribute, role and action
// names Tovrin's logic speaks. Pure functions over what was fetched for one
// element, so the mapping is tested without a bus.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accessibility/ax_types.h"

namespace tovrin::atspi {

// Browsers differ in how they lay out text, so the mapping needs to know
// whose tree it reads.
enum class Toolkit { chromium, gecko, webkit, other };
Toolkit toolkitFromName(std::string_view toolkitName);

// AT-SPI role numbers used by the mapping (the registry's enumeration).
namespace Role {
inline constexpr uint32_t kCheckBox = 7, kCheckMenuItem = 8, kComboBox = 11, kDialog = 16,
                          kFrame = 23, kImage = 27, kLabel = 29, kLink = 88, kListItem = 32,
                          kPageTab = 37, kPasswordText = 40, kPushButton = 43, kRadioButton = 44,
                          kStatic = 116, kToggleButton = 62, kEntry = 79, kHeading = 83,
                          kDocumentFrame = 82, kDocumentWeb = 95, kApplication = 75, kWindow = 69,
                          kSpinButton = 52, kPushButtonMenu = 129, kLandmark = 110, kFiller = 20,
                          kText = 61, kScrollPane = 49;
}

// AT-SPI state bits (positions in the 64-bit state set).
namespace State {
inline constexpr int kActive = 1, kBusy = 3, kChecked = 4, kDefunct = 6, kEditable = 7,
                     kEnabled = 8, kFocusable = 11, kFocused = 12, kMultiLine = 17, kPressed = 20,
                     kSensitive = 24, kShowing = 25, kVisible = 30, kIndeterminate = 32,
                     kReadOnly = 43;
}

// What was fetched for one element; absent fields were not asked for (or
// the browser had no answer).
struct NodeInfo {
  std::optional<uint32_t> role;
  uint64_t states = 0;
  bool hasStates = false;
  std::optional<std::string> name;
  std::optional<std::string> description;
  std::optional<std::map<std::string, std::string>> attributes;
  std::optional<std::array<int32_t, 4>> extents;    // x, y, width, height, screen coordinates
  std::optional<std::array<int32_t, 4>> view;       // where a document scrolls: it shows only there
  std::optional<std::vector<std::string>> actions;  // AT-SPI's own action names
  std::optional<std::string> text;                  // the Text interface's contents
  std::optional<int32_t> characterCount;            // asked only of password fields
  bool synthetic = false;                           // a text run Tovrin made from its parent's text

  [[nodiscard]] bool has(int state) const { return hasStates && (states >> state & 1) != 0; }
};

// Which requests one element needs for the attributes asked of it.
struct Needs {
  bool states = false;
  bool name = false;
  bool description = false;
  bool attributes = false;
  bool extents = false;
  bool actions = false;
  bool text = false;
  bool characterCount = false;  // a password field's length: what typing into it changed
  bool children = false;
  bool parent = false;
};

struct AXRoleNames {
  std::string role;
  std::string subrole;
};

std::string roleNick(uint32_t role);  // "push button", for messages and dumps
// Needs the role and the states, and for entries and toggle buttons the
// object attributes.
AXRoleNames axRole(const NodeInfo& node);

// The requests that answering `attributes` (platform names) needs, given
// the element's AT-SPI role. `withActions` asks for the action names too.
// A bulk read (a page) leaves out what text leaves rarely need: their
// states and extents, which would double its cost in Chromium.
// Inside a page (`inPage`), containers of text are not asked for their
// states (browsers leave hidden content out of the tree there) nor their
// descriptions.
Needs needsFor(const std::vector<std::string>& attributes, uint32_t role, Toolkit toolkit,
               bool withActions, bool bulk = false, bool inPage = false);
// Text is fetched from containers only where the browser keeps a
// paragraph's words there instead of in child elements.
bool keepsTextInContainer(uint32_t role, Toolkit toolkit);

// Actions as Tovrin names them: "AXPress" once for any real activation
// ("press", "click", "jump", "activate", "toggle", "check", …), "AXShowMenu"
// for a context menu. Chromium's "doDefault" and "clickAncestor", listed on
// nearly every node, are not presses.
std::vector<std::string> axActions(const std::vector<std::string>& raw);
// The index of the action that carries out `axAction` among the raw names.
std::optional<int> rawActionIndex(const std::vector<std::string>& raw, std::string_view axAction);

// Hidden elements are skipped with their subtrees: anything not visible,
// and web areas that are not showing (the pages of background tabs).
// An element with no states at all (the socket a GTK window embeds
// WebKit's page through, and its plug) tells nothing, and is not hidden.
// WebKit never marks its page's scroll view visible, and stops marking its
// page showing once it scrolls: there only visibility counts.
bool hidden(const NodeInfo& node, Toolkit toolkit = Toolkit::other);
// Whether the element may hold what lies under a screen point: showing and
// holding the point in its extents, or one of the elements above that never
// say so. WebKit's plug and scroll view, which move with the page in their
// answers, hold whatever their socket holds.
bool mayHoldPoint(const NodeInfo& node, Toolkit toolkit, int32_t x, int32_t y);

// The value of one non-element attribute ("AXTitle", "AXValue", …), or
// absent. Never the text of a password field.
std::optional<AXValue> axValue(std::string_view attribute, const NodeInfo& node, Toolkit toolkit);

// A container's text split at its embedded objects (U+FFFC, one per child):
// the runs of words between them, in order, with -1 for a run and the child
// index for an embedded object. Nothing when the count of embedded objects
// does not match the children (the browser lays text out otherwise) or
// there are no words at all. Runs of white space alone are dropped.
// Text as the Text interface reports it, without the U+FEFF Firefox puts
// after each character outside the Basic Multilingual Plane (an emoji reads
// back as the emoji and a zero-width no-break space otherwise).
std::string withoutSurrogatePadding(std::string text);

// The length in bytes of a list marker ("• ", "3. ", "b) ") at the start of
// a list item's text, trailing spaces included; 0 when there is none.
// Browsers put the marker into the item's text (Firefox) or a text leaf of
// its own (Chromium); Tovrin shows items with a marker of its own.
std::size_t listMarkerLength(std::string_view text);

struct TextPiece {
  int child = -1;
  std::string text;
};
std::optional<std::vector<TextPiece>> splitHypertext(std::string_view text, std::size_t childCount);

// Chromium lists a container's words twice: in its text (with U+FFFC for
// each child element) and as text leaves among its children, in the same
// order. Which children are those leaves, by position, when each run of
// text between the U+FFFC is one leaf; nothing when they do not line up so
// (a run split over several leaves), and every child must then be read.
std::optional<std::vector<bool>> textLeavesByPosition(std::string_view text,
                                                      std::size_t childCount);

}  // namespace tovrin::atspi
