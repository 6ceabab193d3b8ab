#pragma once

// The palette panel: a frameless, always-on-top, translucent window 680
// wide that shows the palette view model's phase (command bar, content,
// footer), grows and shrinks with its content with its top edge fixed, and
// routes keys through the palette's own rules before the text field.

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "ui/palette_view_model.h"

class QLabel;
class QLineEdit;
class QVBoxLayout;
class QFrame;

namespace tovrin::desktop {

class PaletteWindow final : public QWidget {
  Q_OBJECT

 public:
  struct Texts {
    std::string modelStatus;  // the footer's first line
    std::string hotkey;       // "Alt+Space", for the onboarding note
    // Whether elements can be outlined on this desktop: only where their
    // places on the screen are known.
    bool outlines = true;
  };
  PaletteWindow(std::shared_ptr<PaletteViewModel> vm, Texts texts, QWidget* parent = nullptr);
  ~PaletteWindow() override;

  // Resets the palette, places the panel on the screen under the pointer
  // with its top at 22 % of that screen's available height, and shows it
  // with the command field focused.
  void present();
  void setModelStatus(const std::string& text);
  // A line shown above the content until the palette hides (a hotkey that
  // could not be had, say).
  void setNote(const std::string& text);
  // The browser the onboarding view offers to restart with accessibility
  // on (a Chromium-family one started without it); empty offers none.
  void setBrowserToRestart(const std::string& name);
  // Tells whether the user has gone to a window that is neither the palette
  // nor the browser a command acted on; the palette then leaves the
  // keyboard where it is when a command ends. Unset, the user never has.
  // A button under the note that adds the hotkey to the desktop's own
  // shortcuts (GNOME), with this text; empty shows none.
  void setShortcutOffer(const std::string& text);
  void setUserElsewhere(std::function<bool()> userElsewhere);
  // Hides the panel for a command that sends keys, so that the compositor
  // gives the browser the focus; it comes back with the outcome.
  void stepAside();
  // Hides the panel for good: one stepped aside for a command does not come
  // back when it ends (the user closed it, or went to Settings).
  void dismiss();

  [[nodiscard]] PaletteViewModel& viewModel() const { return *vm_; }
  // The content as shown, for tests: every label's text, top to bottom.
  [[nodiscard]] QStringList shownTexts() const;

 signals:
  void inspectorRequested();
  void settingsRequested();
  void hidden();
  // A command ended while the panel was stepped aside and the user had gone
  // elsewhere: its headline, for a notice the user still sees.
  void outcomeUnseen(const QString& headline);
  // The onboarding view's fix buttons.
  void turnOnAccessibilityRequested();
  void restartBrowserRequested();
  void shortcutOfferTaken();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void render();
  void applyTheme();
  void fitHeight();
  void buildIdle(QVBoxLayout* into);
  void buildResult(QVBoxLayout* into, const ActionResult& result);
  void buildConfirmation(QVBoxLayout* into, const Confirmation& confirmation);
  void buildChoice(QVBoxLayout* into, const ChoiceSet& choices);
  void buildOnboarding(QVBoxLayout* into);
  void returnPressed();
  // A command ended: the keyboard back to the panel, unless the user went on.
  void handBack();

  std::shared_ptr<PaletteViewModel> vm_;
  Texts texts_;
  std::string note_;
  std::string browserToRestart_;
  std::string shortcutOffer_;
  bool askingRestart_ = false;
  QFrame* panel_ = nullptr;
  QLineEdit* input_ = nullptr;
  QLabel* busy_ = nullptr;
  QLabel* badge_ = nullptr;
  QWidget* content_ = nullptr;
  QLabel* modelStatus_ = nullptr;
  // The delayed hide after the palette lost the focus: one at a time, and
  // given up when the palette is shown or hidden meanwhile, so a focus lost
  // just before a quick reopening does not close the new palette.
  QTimer* resignTimer_ = nullptr;
  QTimer* trustTimer_ = nullptr;  // the onboarding's trust check
  bool rendering_ = false;
  bool wasWorking_ = false;
  bool steppedAside_ = false;  // hidden by a command, to come back with its outcome
  std::function<bool()> userElsewhere_;
  int top_ = -1;  // the panel's top edge while shown
};

}  // namespace tovrin::desktop
