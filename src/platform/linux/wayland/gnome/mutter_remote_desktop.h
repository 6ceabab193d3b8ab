#pragma once

// GNOME on Wayland: mutter's remote-desktop service on the session bus
// (org.gnome.Mutter.RemoteDesktop) is the one way to press keys into
// another program's window, and its session's clipboard the one way to set
// the clipboard without a focused window of Tovrin's own. A session is
// opened when a command first needs it and closed when the command's input
// is over: GNOME shows a sharing indicator while one lives.

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/wayland/keyboard_input.h"

namespace tovrin {

class MutterRemoteDesktop {
 public:
  // `bus` is the session bus (a reference is taken); null gives a client
  // whose every call fails.
  explicit MutterRemoteDesktop(GDBusConnection* bus);
  ~MutterRemoteDesktop();
  MutterRemoteDesktop(const MutterRemoteDesktop&) = delete;
  MutterRemoteDesktop& operator=(const MutterRemoteDesktop&) = delete;

  // Whether mutter offers the service on this bus.
  [[nodiscard]] bool available() const;
  bool open();  // starts a session unless one is open
  void close();
  [[nodiscard]] bool isOpen() const { return !session_.empty(); }

  bool keysym(uint32_t keysym, bool down);
  bool keycode(uint32_t evdevCode, bool down);
  // Makes the session the clipboard's owner with this text, serving it to
  // whoever pastes for as long as the session lives.
  bool offerSelection(const std::string& text);
  // The clipboard's text, if it holds text; nothing when it is empty.
  std::optional<std::string> readSelection();
  // Runs the session's main context until `seconds` pass, `done` holds or
  // the session or its bus ends, answering paste requests meanwhile.
  bool serve(double seconds, const std::function<bool()>& done);
  // Whether the session still owns the clipboard (another program's copy
  // takes it away).
  [[nodiscard]] bool ownsSelection() const { return ownsSelection_; }
  [[nodiscard]] bool closed() const { return closedByMutter_; }
  // How many pastes the session has answered.
  [[nodiscard]] int transfers() const { return transfers_; }
  // When the last transfer was answered (0 before any).
  [[nodiscard]] double lastTransferAt() const { return lastTransferAt_; }
  [[nodiscard]] const std::string& lastError() const { return error_; }

 private:
  GVariant* call(const char* method, GVariant* args, const GVariantType* reply);
  bool enableClipboard();
  static void onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant*, gpointer self);

  GMainContext* context_ = nullptr;  // where the session's signals arrive
  GDBusConnection* bus_ = nullptr;
  std::string session_;  // the session's object path, empty when closed
  guint subscription_ = 0;
  bool clipboardEnabled_ = false;
  bool ownsSelection_ = false;
  bool closedByMutter_ = false;
  int transfers_ = 0;
  double lastTransferAt_ = 0;
  std::optional<std::string> offered_;
  std::vector<std::string> ownerMimeTypes_;  // of the clipboard's present owner
  std::string error_;
};

// Keys through mutter: keysyms of the keymap directly, other characters
// pasted from the session's clipboard with Ctrl+V, the user's own
// clipboard text offered again once the command's input is over.
class MutterKeyRoute final : public KeyRoute {
 public:
  // `keeper` serves a text on the clipboard after this process ends (the
  // user's clipboard is put back through it).
  MutterKeyRoute(GDBusConnection* bus, std::function<void(const std::string&)> keeper);
  bool chord(const std::vector<uint32_t>& modifiers, uint32_t key) override;
  bool typeCharacter(const std::string& character) override;
  void finish() override;
  std::string problem() override;

 private:
  bool ready();
  bool paste(const std::string& text);

  MutterRemoteDesktop desktop_;
  std::function<void(const std::string&)> keeper_;
  bool warmedUp_ = false;
  std::optional<std::optional<std::string>> saved_;  // the user's clipboard, once read
};

}  // namespace tovrin
