#include "actions/input.h"

#include <algorithm>
#include <array>

#include "base/unicode.h"

namespace tovrin {

uint16_t KeyCode::digit(int d) {
  static constexpr std::array<uint16_t, 10> kDigits = {29, 18, 19, 20, 21, 23, 22, 26, 28, 25};
  return kDigits[static_cast<std::size_t>(std::clamp(d, 0, 9))];
}

KeyStroke keyStroke(KeyAction key) {
  switch (key) {
    case KeyAction::copy:
      return {KeyCode::kC, KeyFlags::kCommand};
    case KeyAction::paste:
      return {KeyCode::kV, KeyFlags::kCommand};
    case KeyAction::selectAll:
      return {KeyCode::kA, KeyFlags::kCommand};
    case KeyAction::enter:
      return {KeyCode::kReturn, KeyFlags::kNone};
    case KeyAction::escape:
      return {KeyCode::kEscape, KeyFlags::kNone};
    case KeyAction::tab:
      return {KeyCode::kTab, KeyFlags::kNone};
    case KeyAction::deleteKey:
      return {KeyCode::kDelete, KeyFlags::kNone};
    case KeyAction::up:
      return {KeyCode::kUp, KeyFlags::kNone};
    case KeyAction::down:
      return {KeyCode::kDown, KeyFlags::kNone};
    case KeyAction::left:
      return {KeyCode::kLeft, KeyFlags::kNone};
    case KeyAction::right:
      return {KeyCode::kRight, KeyFlags::kNone};
  }
  return {};
}

namespace Input {

bool activate(const BrowserTarget& target) {
  Workspace* workspace = target.platform.workspace.get();
  if (workspace == nullptr) return false;
  auto front = workspace->frontmostApplication();
  if (front && front->pid == target.app.pid) return true;
  if (!workspace->activate(target.app.pid)) return false;
  front = workspace->frontmostApplication();
  return front && front->pid == target.app.pid;
}

void postKey(const BrowserTarget& target, KeyStroke key) {
  SyntheticInput* input = target.platform.input.get();
  if (input == nullptr) return;
  input->postKey(target.app.pid,
                 {.keyCode = key.code, .flags = key.flags, .text = "", .down = true});
  input->postKey(target.app.pid,
                 {.keyCode = key.code, .flags = key.flags, .text = "", .down = false});
}

void type(const BrowserTarget& target, std::string_view text,
          const std::function<bool()>& cancelled) {
  SyntheticInput* input = target.platform.input.get();
  if (input == nullptr) return;
  std::string oneLine(text);
  for (char& c : oneLine) {
    if (c == '\n') c = ' ';
  }
  std::string_view rest = oneLine;
  while (!rest.empty()) {
    if (cancelled && cancelled()) return;
    std::size_t bytes = unicode::firstCharacter(rest).size();
    if (bytes == 0) bytes = rest.size();
    std::string character = unicode::repair(rest.substr(0, bytes));
    rest.remove_prefix(bytes);
    input->postKey(target.app.pid,
                   {.keyCode = 0, .flags = KeyFlags::kNone, .text = character, .down = true});
    input->postKey(target.app.pid,
                   {.keyCode = 0, .flags = KeyFlags::kNone, .text = character, .down = false});
    if (target.platform.clock) target.platform.clock->sleep(0.003);
  }
}

}  // namespace Input

namespace Profile {

std::string key(ProfileField field) {
  return "profile." + std::string(rawValue(field));
}

std::string value(const Platform& platform, ProfileField field) {
  if (!platform.defaults) return {};
  return unicode::trimWhitespace(platform.defaults->string(key(field)).value_or(""));
}

}  // namespace Profile
}  // namespace tovrin
