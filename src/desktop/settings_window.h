#pragma once

// Tovrin's settings, in the per-user store the command line shares: the
// hotkey preset (with whether its chord is free), the three fill-in
// details, the local model server and its status, the accessibility row with its fix, and
// starting at login (an XDG autostart entry).

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "accessibility/platform.h"
#include "ui/palette_controls.h"

class QComboBox;
class QLabel;
class QCheckBox;
class QLineEdit;

namespace tovrin::desktop {

class SettingsWindow final : public QWidget {
  Q_OBJECT

 public:
  struct Services {
    std::shared_ptr<Defaults> defaults;
    std::string modelStatus;             // the status line until the next check
    std::function<void()> modelChanged;  // the model setting was changed here
    // Grabs the preset's chord in place of the old one; the problem, if any.
    std::function<std::string(const HotkeyPreset&)> useHotkey;
    std::function<bool()> trusted;
    std::function<void()> fixAccessibility;
    // Where the desktop keeps the shortcut itself (GNOME before its portal):
    // the chord of its entry that runs `tovrin toggle`, if any, and asking
    // for it (on) or not (off), which gives the hotkey's problem afterwards.
    std::function<std::optional<std::string>()> desktopShortcut;
    std::function<std::string(bool on)> setDesktopShortcut;
    // The lines that bind the preset in the compositor's config (sway).
    std::function<std::vector<std::string>(const HotkeyPreset&)> configLines;
    std::string autostartFile;  // $XDG_CONFIG_HOME/autostart/tovrin.desktop
    std::string executable;     // what the autostart entry starts
  };
  SettingsWindow(Services services, std::string hotkeyProblem, QWidget* parent = nullptr);

  // Brings the window forward with the stored values and the current trust.
  void present();
  // What went wrong with the hotkey, when it is known later (the portal
  // answers after a while); empty when it works.
  void setHotkeyProblem(std::string problem);
  // The model's status line, once checked.
  void setModelStatus(const std::string& text);

 private:
  void refresh();
  void setAutostart(bool on);
  void showStoredModel();
  void applyModel();

  Services services_;
  std::string hotkeyProblem_;
  QComboBox* preset_ = nullptr;
  QLabel* presetStatus_ = nullptr;
  QCheckBox* desktopShortcut_ = nullptr;
  QLabel* configLines_ = nullptr;
  QLabel* trustIcon_ = nullptr;
  QLabel* trustText_ = nullptr;
  QCheckBox* autostart_ = nullptr;
  QComboBox* modelKind_ = nullptr;
  QLineEdit* modelAddress_ = nullptr;
  QLineEdit* modelName_ = nullptr;
  QLabel* modelProblem_ = nullptr;
  QLabel* modelStatus_ = nullptr;
};

// The autostart entry's path for this user.
std::string autostartPath();

}  // namespace tovrin::desktop
