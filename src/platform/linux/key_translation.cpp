#include "platform/linux/key_translation.h"

#include <array>
#include <utility>

namespace tovrin::Keys {
namespace {

// macOS ANSI key codes and the X11 keysyms of the same keys.
constexpr std::array<std::pair<uint16_t, const char*>, 57> kKeys = {{
    {0, "a"},
    {11, "b"},
    {8, "c"},
    {2, "d"},
    {14, "e"},
    {3, "f"},
    {5, "g"},
    {4, "h"},
    {34, "i"},
    {38, "j"},
    {40, "k"},
    {37, "l"},
    {46, "m"},
    {45, "n"},
    {31, "o"},
    {35, "p"},
    {12, "q"},
    {15, "r"},
    {1, "s"},
    {17, "t"},
    {32, "u"},
    {9, "v"},
    {13, "w"},
    {7, "x"},
    {16, "y"},
    {6, "z"},
    {29, "0"},
    {18, "1"},
    {19, "2"},
    {20, "3"},
    {21, "4"},
    {23, "5"},
    {22, "6"},
    {26, "7"},
    {28, "8"},
    {25, "9"},
    {36, "Return"},
    {48, "Tab"},
    {49, "space"},
    {51, "BackSpace"},
    {117, "Delete"},
    {53, "Escape"},
    {123, "Left"},
    {124, "Right"},
    {125, "Down"},
    {126, "Up"},
    {116, "Prior"},
    {121, "Next"},
    {115, "Home"},
    {119, "End"},
    {33, "bracketleft"},
    {30, "bracketright"},
    {27, "minus"},
    {24, "equal"},
    {44, "slash"},
    {47, "period"},
    {43, "comma"},
}};

const char* keysym(uint16_t code) {
  for (const auto& [mac, name] : kKeys) {
    if (mac == code) return name;
  }
  return nullptr;
}

bool isDigit(uint16_t code) {
  const char* name = keysym(code);
  return name && name[0] >= '0' && name[0] <= '9' && name[1] == '\0';
}

}  // namespace

std::optional<Chord> translate(uint16_t code, uint64_t flags, Family family) {
  const char* key = keysym(code);
  if (!key) return std::nullopt;
  const bool command = flags & KeyFlags::kCommand;
  const bool control = flags & KeyFlags::kControl;
  const bool option = flags & KeyFlags::kOption;
  const bool shift = flags & KeyFlags::kShift;
  Chord chord{{}, key};
  if (command) {
    // ⌘[ and ⌘] are back and forward; ⌘digit picks a tab, which Firefox
    // and GNOME Web bind to Alt and Chromium to Control on Linux; every
    // other ⌘ chord is Control's.
    if (code == 33 || code == 30) {
      chord.modifiers.emplace_back("Alt_L");
      chord.key = code == 33 ? "Left" : "Right";
    } else if (isDigit(code) && family != Family::chromium) {
      chord.modifiers.emplace_back("Alt_L");
    } else {
      chord.modifiers.emplace_back("Control_L");
    }
  }
  if (control && !command) chord.modifiers.emplace_back("Control_L");
  if (option && !command) chord.modifiers.emplace_back("Alt_L");
  if (shift) chord.modifiers.emplace_back("Shift_L");
  return chord;
}

std::string describe(const Chord& chord) {
  std::string out;
  for (const std::string& m : chord.modifiers) {
    out += m == "Control_L" ? "Ctrl" : m == "Alt_L" ? "Alt" : m == "Shift_L" ? "Shift" : m;
    out += '+';
  }
  static constexpr std::pair<const char*, const char*> kShown[] = {
      {"Prior", "Page Up"}, {"Next", "Page Down"}, {"BackSpace", "Backspace"},
      {"bracketleft", "["}, {"bracketright", "]"}, {"space", "Space"}};
  std::string key = chord.key;
  for (const auto& [name, shown] : kShown) {
    if (key == name) key = shown;
  }
  if (key.size() == 1) key[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])));
  return out + key;
}

Family familyOf(const std::string& applicationID) {
  if (applicationID.rfind("firefox", 0) == 0) return Family::firefox;
  if (applicationID == "org.gnome.Epiphany") return Family::gnomeWeb;
  return Family::chromium;
}

std::vector<uint32_t> codePoints(const std::string& text) {
  std::vector<uint32_t> out;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c < 0x80           ? 1
                               : (c >> 5) == 0x6  ? 2
                               : (c >> 4) == 0xE  ? 3
                               : (c >> 3) == 0x1E ? 4
                                                  : 1;
    uint32_t cp = length == 1 ? c : c & (0xFFu >> (length + 1));
    for (std::size_t k = 1; k < length && i + k < text.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(cp);
    i += length;
  }
  return out;
}

uint32_t keysymForCodePoint(uint32_t cp) {
  if (cp == '\n' || cp == '\r') return 0xFF0D;  // Return
  if (cp == '\t') return 0xFF09;                // Tab
  if ((cp >= 0x20 && cp < 0x7F) || (cp >= 0xA0 && cp <= 0xFF)) return cp;
  return 0x01000000 + cp;
}

}  // namespace tovrin::Keys
