#pragma once

// The running desktop application: one per session, found on the session
// bus by name. It owns the palette panel, the global hotkey, the tray icon
// and its menu, and answers `tovrin toggle` (show, hide, quit) over D-Bus.

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "accessibility/platform.h"
#include "actions/highlighter.h"
#include "ai/language_model.h"
#include "ui/palette_controls.h"
#include "ui/palette_view_model.h"

class QSystemTrayIcon;
class QSocketNotifier;
class QMenu;

namespace tovrin {
class X11Hotkey;
}  // namespace tovrin

namespace tovrin::desktop {

class PaletteWindow;
class SettingsWindow;
class InspectorWindow;
class PortalShortcut;
class QtExecutor;

// The bus name and object of the running application.
inline constexpr const char* kServiceName = "org.tovrin.Tovrin";
inline constexpr const char* kObjectPath = "/org/tovrin/Tovrin";
inline constexpr const char* kInterface = "org.tovrin.Tovrin";

class TovrinApplication final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.tovrin.Tovrin")

 public:
  struct Services {
    Platform platform;
    std::shared_ptr<LanguageModel> model;
    std::string modelStatus;  // until checked
    // The model's status line, asked afresh (it may wait on the model
    // server for a moment: called on the command thread).
    std::function<std::string()> checkModel;
    // Set on the real desktop: tells the workspace's observers of the
    // activations since the last call (on the interface thread).
    std::function<void()> pollActivations;
    // Elements are outlined only where their places on the screen are known.
    bool outlines = false;
    // Only the compositor moves the keyboard (Wayland): the palette steps
    // aside for commands that send keys.
    bool stepAside = false;
    bool grabHotkey = false;
    // Where windows cannot grab keys (Wayland): the desktop's GlobalShortcuts
    // portal on the session bus.
    bool usePortal = false;
    // Where the desktop keeps the shortcut itself (GNOME before its portal):
    // the chord of the entry that runs `tovrin toggle`, if there is one, and
    // adding Tovrin's entry for a preset or taking it out (the problem, or
    // empty). Unset on other desktops.
    std::function<std::optional<std::string>()> desktopShortcut;
    std::function<std::string(const HotkeyPreset&, bool on)> setDesktopShortcut;
    // Keeps the shown palette above other windows and places it, where the
    // compositor offers a way (KWin); unset elsewhere.
    std::function<void()> placePalette;
    // The lines that bind the preset in the compositor's own config (sway).
    std::function<std::vector<std::string>(const HotkeyPreset&)> configLines;
    // Turns assistive-technology support on (the real desktop only).
    std::function<void()> fixAccessibility;
    // A Chromium-family browser started without its accessibility flag, by
    // pid and name, and restarting one with it (an error in words, or
    // empty). Both the real desktop only.
    std::function<std::optional<std::pair<int32_t, std::string>>()> browserToRestart;
    std::function<std::string(int32_t pid)> restartBrowser;
  };
  explicit TovrinApplication(Services services);
  ~TovrinApplication() override;

  enum class Start { running, alreadyRunning, noBus };
  // Takes the bus name; a second instance finds the first one here.
  Start start();

  [[nodiscard]] PaletteWindow* palette() const { return palette_.get(); }
  [[nodiscard]] SettingsWindow* settings() const { return settings_.get(); }
  [[nodiscard]] InspectorWindow* inspector() const { return inspector_.get(); }
  // What went wrong with the hotkey, in words for the user; empty when it works.
  [[nodiscard]] const std::string& hotkeyProblem() const { return hotkeyProblem_; }

 public slots:
  Q_SCRIPTABLE void Toggle();
  Q_SCRIPTABLE void Show();
  // The same, from a launcher or shortcut that gave `tovrin toggle` a token
  // (XDG_ACTIVATION_TOKEN or DESKTOP_STARTUP_ID) with which the compositor
  // lets the palette take the keyboard.
  Q_SCRIPTABLE void ToggleWithToken(const QString& token);
  Q_SCRIPTABLE void ShowWithToken(const QString& token);
  Q_SCRIPTABLE void Hide();
  Q_SCRIPTABLE void Settings();
  Q_SCRIPTABLE void Inspector();
  Q_SCRIPTABLE void Quit();

 private:
  void grabHotkey();
  void bindPortalHotkey();
  // Records the hotkey's state and, the first time it is missing, tells the user.
  void hotkeyIs(std::string problem);
  // The portal said no: the desktop's own shortcut list, where there is one.
  void hotkeyWithoutPortal(const std::string& reason);
  // What the user can do about a hotkey that does not work, in words.
  std::string hotkeyAdvice() const;
  // The user asked for the desktop's shortcut (on) or not (off).
  void useDesktopShortcut(bool on);
  void buildTray();
  void noticeActivations();
  void restartBrowser();
  // Whether the user is in a window that is neither ours nor the browser
  // the palette acts on.
  bool userElsewhere() const;
  // A notice outside the palette: the tray's balloon, or the desktop's
  // notifications.
  void notify(const QString& text);
  // Checks the model off the interface thread; the footer and Settings follow.
  void refreshModelStatus();
  // Hides the palette for a command that sends keys (see StepAsideWorkspace).
  void stepPaletteAside();

  Services services_;
  std::shared_ptr<BrowserTracker> tracker_;
  std::shared_ptr<QtExecutor> executor_;
  std::shared_ptr<PaletteViewModel> vm_;
  std::unique_ptr<PaletteWindow> palette_;
  std::unique_ptr<SettingsWindow> settings_;
  std::unique_ptr<InspectorWindow> inspector_;
  std::shared_ptr<Highlighter> highlighter_;
  std::unique_ptr<X11Hotkey> hotkey_;
  QPointer<PortalShortcut> portal_;
  QPointer<QSocketNotifier> hotkeyNotifier_;
  QPointer<QSystemTrayIcon> tray_;
  std::unique_ptr<QMenu> menu_;
  std::string hotkeyProblem_;
  bool toldAboutHotkey_ = false;
  bool registered_ = false;                           // holds the bus name
  std::pair<int32_t, std::string> browserToRestart_;  // what the onboarding offers to restart
};

}  // namespace tovrin::desktop
