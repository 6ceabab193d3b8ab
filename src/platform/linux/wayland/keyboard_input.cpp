#include "platform/linux/wayland/keyboard_input.h"

#include <gio/gio.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <mutex>
#include <set>

#include "platform/linux/key_translation.h"
#include "platform/linux/process/process_info.h"

namespace tovrin {
namespace {

constexpr double kIdleSeconds = 0.6;

double now() {
  return SystemClock().now();
}

Keys::Family familyOf(int32_t pid) {
  return Keys::familyOf(ProcessInfo::identify(ProcessInfo::executableName(pid), "").applicationID);
}

}  // namespace

bool pressChord(const std::vector<uint32_t>& modifiers, uint32_t key,
                const std::function<bool(uint32_t, bool)>& send) {
  bool ok = true;
  for (uint32_t m : modifiers)
    ok = send(m, true) && ok;
  ok = send(key, true) && ok;
  ok = send(key, false) && ok;
  for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
    ok = send(*it, false) && ok;
  return ok;
}

uint32_t keysymFromName(const std::string& name) {
  return xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_NO_FLAGS);
}

WaylandKeyboard::WaylandKeyboard(std::unique_ptr<KeyRoute> route,
                                 std::function<std::optional<int32_t>()> activePid)
    : route_(std::move(route)), activePid_(std::move(activePid)) {
  watcher_ = std::thread([this] { idleWatch(); });
}

WaylandKeyboard::~WaylandKeyboard() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  watcher_.join();
  route_->finish();
}

void WaylandKeyboard::idleWatch() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (!lastKey_) {
      wake_.wait(lock);
      continue;
    }
    const double due = *lastKey_ + kIdleSeconds;
    if (now() < due) {
      wake_.wait_for(lock, std::chrono::duration<double>(due - now()));
      continue;
    }
    lastKey_.reset();
    route_->finish();
  }
}

bool WaylandKeyboard::postKey(int32_t pid, const KeyEvent& event) {
  std::lock_guard lock(mutex_);
  // A character or chord goes whole on its key's down: an up has nothing
  // left to post.
  if (!event.down) return true;
  // Keys go to whatever has the focus: only while the target's window is
  // the active one, checked just before each key.
  if (!activePid_ || activePid_() != pid) return false;
  bool ok = true;
  if (!event.text.empty()) {
    ok = route_->typeCharacter(event.text);
  } else {
    auto chord = Keys::translate(event.keyCode, event.flags, familyOf(pid));
    if (!chord) return false;
    std::vector<uint32_t> modifiers;
    for (const std::string& m : chord->modifiers)
      modifiers.push_back(keysymFromName(m));
    ok = route_->chord(modifiers, keysymFromName(chord->key));
  }
  lastKey_ = now();
  wake_.notify_all();
  return ok;
}

std::optional<std::string> WaylandKeyboard::sentChord(int32_t pid, uint16_t keyCode,
                                                      uint64_t flags) {
  auto chord = Keys::translate(keyCode, flags, familyOf(pid));
  if (!chord) return std::nullopt;
  return Keys::describe(*chord);
}

bool WaylandKeyboard::postMouse(double, double, bool) {
  return false;
}
bool WaylandKeyboard::postScrollWheel(double, double, int32_t) {
  return false;
}

bool keymapTypes(uint32_t keysym) {
  static std::once_flag once;
  static std::set<uint32_t> typed;
  std::call_once(once, [] {
    std::string layout, variant;
    // GNOME keeps the keyboard layouts in its settings; the first is the
    // one in use unless the user switched.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        source ? g_settings_schema_source_lookup(source, "org.gnome.desktop.input-sources", TRUE)
               : nullptr;
    if (schema) {
      GSettings* settings = g_settings_new("org.gnome.desktop.input-sources");
      GVariant* sources = g_settings_get_value(settings, "sources");
      GVariantIter iter;
      g_variant_iter_init(&iter, sources);
      const gchar* type = nullptr;
      const gchar* id = nullptr;
      while (layout.empty() && g_variant_iter_next(&iter, "(&s&s)", &type, &id)) {
        if (std::string(type) != "xkb") continue;
        std::string value = id;
        const auto plus = value.find('+');
        layout = value.substr(0, plus);
        if (plus != std::string::npos) variant = value.substr(plus + 1);
      }
      g_variant_unref(sources);
      g_object_unref(settings);
      g_settings_schema_unref(schema);
    }
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!context) return;
    xkb_rule_names names{};
    if (!layout.empty()) {
      names.layout = layout.c_str();
      names.variant = variant.c_str();
    }
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap) {
      for (xkb_keycode_t k = xkb_keymap_min_keycode(keymap); k <= xkb_keymap_max_keycode(keymap);
           ++k) {
        for (xkb_level_index_t level = 0; level < 2; ++level) {
          const xkb_keysym_t* syms = nullptr;
          const int n = xkb_keymap_key_get_syms_by_level(keymap, k, 0, level, &syms);
          for (int i = 0; i < n; ++i)
            typed.insert(syms[i]);
        }
      }
      xkb_keymap_unref(keymap);
    }
    xkb_context_unref(context);
  });
  // Keysyms of the 0x01000000 range name Latin-1 code points the keymap
  // lists by their old values.
  if (keysym >= 0x010000A0 && keysym <= 0x010000FF) keysym -= 0x01000000;
  return typed.count(keysym) > 0;
}

std::optional<uint32_t> layoutKeysym(const std::string& character) {
  const std::vector<uint32_t> cps = Keys::codePoints(character);
  if (cps.size() != 1) return std::nullopt;
  const uint32_t keysym = Keys::keysymForCodePoint(cps.front());
  if (!keymapTypes(keysym)) return std::nullopt;
  return keysym;
}

}  // namespace tovrin
