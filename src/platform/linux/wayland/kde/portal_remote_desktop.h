#pragma once

// KDE Plasma: keys through the RemoteDesktop portal
// (org.freedesktop.portal.RemoteDesktop). Plasma 5.27 lets an unsandboxed
// program in with a notification; Plasma 6 asks the user once and hands back
// a restore token, kept in Tovrin's settings so that the question comes once
// per install, not once per command. Characters the keymap lacks are pasted:
// the clipboard through data control (wl-clipboard), then Ctrl+V.

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "accessibility/platform.h"
#include "platform/linux/wayland/keyboard_input.h"
#include "platform/linux/wayland/sway/sway_route.h"

namespace tovrin {

// The settings key the portal's restore token is kept under.
inline constexpr const char* kPortalRestoreTokenKey = "wayland.remoteDesktopRestoreToken";

class PortalRemoteDesktop {
 public:
  PortalRemoteDesktop(GDBusConnection* bus, std::shared_ptr<Defaults> settings);
  ~PortalRemoteDesktop();
  PortalRemoteDesktop(const PortalRemoteDesktop&) = delete;
  PortalRemoteDesktop& operator=(const PortalRemoteDesktop&) = delete;

  // Whether a portal with the RemoteDesktop interface answers.
  [[nodiscard]] bool available();
  // Creates and starts a session with a keyboard; the user may be asked
  // (no restore token yet), so this waits up to `askSeconds`.
  bool open(double askSeconds = 120);
  void close();
  [[nodiscard]] bool isOpen() const { return !session_.empty(); }
  bool keysym(uint32_t keysym, bool down);
  // Why the last open failed, in words for the user.
  [[nodiscard]] const std::string& error() const { return error_; }

 private:
  // Calls a portal method that answers through a Request object and waits
  // for its Response; the results, or nothing (error_ says why).
  std::optional<GVariant*> request(const char* method, GVariant* arguments,
                                   const std::string& token, double seconds);

  GDBusConnection* bus_;
  std::shared_ptr<Defaults> settings_;
  GMainContext* context_;
  std::string session_;
  std::string error_;
  int tokens_ = 0;
};

class PortalKeyRoute final : public KeyRoute {
 public:
  PortalKeyRoute(GDBusConnection* bus, std::shared_ptr<Defaults> settings);
  bool chord(const std::vector<uint32_t>& modifiers, uint32_t key) override;
  bool typeCharacter(const std::string& character) override;
  void finish() override;
  std::string problem() override;

 private:
  bool ready();
  PortalRemoteDesktop portal_;
  DataControlPaste paste_;
};

}  // namespace tovrin
