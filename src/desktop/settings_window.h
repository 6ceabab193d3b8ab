#pragma once

// Tovrin's settings, in the per-user store the command line shares: the
// hotkey preset (with whether its chord is free), the three fill-in
// details, the model status, the accessibility row with its fix, and
// starting at login (an XDG autostart entry).

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "accessibility/platform.h"
#include "ui/palette_controls.h"

class QComboBox;
class QLabel;
class QCheckBox;

namespace tovrin::desktop {

class SettingsWindow final : public QWidget {
  Q_OBJECT

 public:
  struct Services {
    std::shared_ptr<Defaults> defaults;
    std::string modelStatus;
    // Grabs the preset's chord in place of the old one; the problem, if any.
    std::function<std::string(const HotkeyPreset&)> useHotkey;
    std::function<bool()> trusted;
    std::function<void()> fixAccessibility;
    std::string autostartFile;  // $XDG_CONFIG_HOME/autostart/tovrin.desktop
    std::string executable;     // what the autostart entry starts
  };
  SettingsWindow(Services services, std::string hotkeyProblem, QWidget* parent = nullptr);

  // Brings the window forward with the stored values and the current trust.
  void present();
  // What went wrong with the hotkey, when it is known later (the portal
  // answers after a while); empty when it works.
  void setHotkeyProblem(std::string problem);

 private:
  void refresh();
  void setAutostart(bool on);

  Services services_;
  std::string hotkeyProblem_;
  QComboBox* preset_ = nullptr;
  QLabel* presetStatus_ = nullptr;
  QLabel* trustIcon_ = nullptr;
  QLabel* trustText_ = nullptr;
  QCheckBox* autostart_ = nullptr;
};

// The autostart entry's path for this user.
std::string autostartPath();

}  // namespace tovrin::desktop
