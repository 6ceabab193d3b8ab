#pragma once

// The desktop as Tovrin's logic sees it. A backend (the simulated desktop, the
// Linux desktop) implements these interfaces; nothing above this layer talks
// to the desktop any other way. Every operation may be called from a
// background thread while the main thread also uses it.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "accessibility/ax_types.h"

namespace tovrin {

class Clock;

// One bulk read of a subtree, walked as the crawler walks it: pre-order, each
// element once, within node, depth and time limits. A backend whose requests
// are expensive one at a time (AT-SPI over D-Bus) serves it with many
// requests in flight; the result must be the same elements in the same order.
struct TreeRequest {
  std::vector<std::string> attributes;  // read for every element, in this order
  std::size_t roleIndex = 0;            // where "AXRole" is among `attributes`
  std::size_t hiddenIndex = 0;    // elements whose value here is true are skipped, subtree too
  std::size_t childrenIndex = 0;  // where "AXChildren" is
  // Roles whose action names are read.
  std::function<bool(std::string_view role)> readsActions;
  bool stopAtWebArea = false;  // web areas below the root are recorded, not entered
  int maxNodes = 6000;
  int maxDepth = 80;
  double timeLimit = 6.0;  // seconds on `clock`, tested between elements
};

struct TreeNode {
  AXElement element;
  std::optional<int> parent;  // index of the parent in the result
  int depth = 0;
  // One per requested attribute; absent where the read failed or gave null.
  std::vector<std::optional<AXValue>> values;
  std::vector<std::string> actions;
};

// Operations on accessibility elements. Reads never throw: failures come back
// as a non-zero code with no value.
// Hears a browser change its pages while a command is being typed, so that a
// page read ahead of the command is used only while it still holds. Lives as
// long as its holder keeps it; the desktop stops listening when it goes.
class PageWatch {
 public:
  virtual ~PageWatch() = default;
  // How many changes of the browser's pages were heard so far.
  [[nodiscard]] virtual uint64_t changes() = 0;
  // Returns once every change the browser made before this call has been
  // heard (bounded by a short wait on a browser that does not answer).
  virtual void settle() = 0;
};

class Accessibility : public std::enable_shared_from_this<Accessibility> {
 public:
  virtual ~Accessibility() = default;

  virtual AXResult<std::optional<AXValue>> copyAttributeValue(const AXElement& element,
                                                              std::string_view attribute) = 0;
  // One entry per name, in order: the value, AXNull, or an AXErrorValue.
  virtual AXResult<std::optional<std::vector<AXValue>>> copyMultipleAttributeValues(
      const AXElement& element, const std::vector<std::string>& attributes) = 0;
  virtual AXResult<std::optional<std::vector<std::string>>> copyActionNames(
      const AXElement& element) = 0;
  virtual int32_t performAction(const AXElement& element, std::string_view action) = 0;
  virtual int32_t setAttributeValue(const AXElement& element, std::string_view attribute,
                                    const AXValue& value) = 0;
  virtual AXResult<bool> isAttributeSettable(const AXElement& element,
                                             std::string_view attribute) = 0;
  // The deepest element under a global point (top-left origin).
  virtual AXResult<AXElement> elementAtPosition(const AXElement& systemWide, double x,
                                                double y) = 0;
  virtual AXElement createApplication(int32_t pid) = 0;
  virtual AXElement createSystemWide() = 0;
  // Later requests to this application element and everything reached from
  // it give up after `seconds`.
  virtual int32_t setMessagingTimeout(const AXElement& application, double seconds) = 0;
  // Whether Tovrin may read other applications' elements.
  virtual bool isProcessTrusted() = 0;
  // The subtree below `root` as `request` describes it. The default walks it
  // with one multi-attribute request (and one action-name request where the
  // role asks for it) per element.
  virtual std::vector<TreeNode> readTree(const AXElement& root, const TreeRequest& request,
                                         Clock& clock);
  // The same, asking the desktop to prompt the user when it is missing.
  virtual bool isProcessTrustedWithPrompt() = 0;
  // The most elements a page read may take. `designed` suits a desktop that
  // answers one element per request; one that reads a page in bulk lets the
  // read's time limit decide, up to a far higher cap that only guards
  // against a page that never ends.
  [[nodiscard]] virtual int pageElementCap(int designed) const { return designed; }
  // Starts hearing the pages of the browser process `pid` change; nothing
  // where the desktop cannot tell (a page read then is never reused).
  virtual std::shared_ptr<PageWatch> watchPages(int32_t pid) {
    (void)pid;
    return nullptr;
  }
};

struct RunningApplication {
  int32_t pid = 0;
  std::string bundleID;  // on Linux, the desktop application id ("chromium", "firefox-esr")
  std::string localizedName;
  bool terminated = false;
};

class Workspace {
 public:
  virtual ~Workspace() = default;
  virtual std::optional<RunningApplication> frontmostApplication() = 0;
  virtual std::optional<RunningApplication> runningApplication(int32_t pid) = 0;
  // `handler` is called on the main thread each time an application is
  // activated, for as long as the workspace lives.
  virtual void observeActivations(std::function<void(const RunningApplication&)> handler) = 0;
  // Opens the desktop's settings page where accessibility is granted.
  virtual void openPrivacySettings() = 0;
  // Makes the application active; false when it could not be (it quit, or
  // the desktop refused).
  virtual bool activate(int32_t pid) = 0;
  // Opens addresses in the application with this bundle identifier.
  virtual bool openURLs(const std::vector<std::string>& urls, const std::string& bundleID) = 0;
};

// Modifier flags of key events, as the macOS event system numbers them.
namespace KeyFlags {
inline constexpr uint64_t kNone = 0;
inline constexpr uint64_t kShift = 0x20000;
inline constexpr uint64_t kControl = 0x40000;
inline constexpr uint64_t kOption = 0x80000;
inline constexpr uint64_t kCommand = 0x100000;
}  // namespace KeyFlags

struct KeyEvent {
  uint16_t keyCode = 0;  // macOS virtual key code of an ANSI keyboard
  uint64_t flags = KeyFlags::kNone;
  std::string text{};  // the Unicode text the key types, if any (UTF-8)
  bool down = true;
};

// Synthetic input. Keys go to one process; mouse and wheel events go to the
// whole desktop at global points (top-left origin), acting on what lies there.
class SyntheticInput {
 public:
  virtual ~SyntheticInput() = default;
  // False when the event could not be made; then nothing was posted.
  virtual bool postKey(int32_t pid, const KeyEvent& event) = 0;
  virtual bool postMouse(double x, double y, bool down) = 0;  // left button
  // Pixels; positive moves the content down (scrolls up).
  virtual bool postScrollWheel(double x, double y, int32_t pixels) = 0;
  // Whether clicks and the wheel can be posted at a point: not where the
  // desktop gives no way to learn where a window lies (Wayland), so nothing
  // is clicked blindly; flows then say so or use keys.
  [[nodiscard]] virtual bool canPostAtPoints() const { return true; }
  // How the chord this key event becomes for that process reads ("Ctrl+3"),
  // where the desktop sends another chord than the macOS one; nothing when
  // it sends the macOS chord itself.
  [[nodiscard]] virtual std::optional<std::string> sentChord(int32_t pid, uint16_t keyCode,
                                                             uint64_t flags) {
    (void)pid;
    (void)keyCode;
    (void)flags;
    return std::nullopt;
  }
};

class Pasteboard {
 public:
  virtual ~Pasteboard() = default;
  virtual void setString(const std::string& text) = 0;
  [[nodiscard]] virtual std::optional<std::string> string() = 0;
};

// The always-on-top, click-through outline drawn over an element.
class Overlay {
 public:
  virtual ~Overlay() = default;
  // The screens, the primary one first, in global coordinates.
  [[nodiscard]] virtual std::vector<Frame> screens() = 0;
  // Shows the outline over a rectangle in accessibility coordinates, replacing
  // any previous one. `seconds` is how long the caller means to keep it; the
  // caller hides it.
  virtual void showOutline(const Frame& frame, double seconds) = 0;
  virtual void hideOutline() = 0;
};

// The user-defaults store: "profile.name", "profile.email", "profile.phone"
// and "hotkeyPreset".
class Defaults {
 public:
  virtual ~Defaults() = default;
  [[nodiscard]] virtual std::optional<std::string> string(const std::string& key) = 0;
  [[nodiscard]] virtual std::optional<int64_t> integer(const std::string& key) = 0;
  virtual void setString(const std::string& key, const std::string& value) = 0;
  virtual void setInteger(const std::string& key, int64_t value) = 0;
};

// Time as the desktop experiences it. Waits go through it so that the
// simulated desktop can make them instant.
class Clock {
 public:
  virtual ~Clock() = default;
  [[nodiscard]] virtual double now() = 0;  // seconds, monotonic
  virtual void sleep(double seconds) = 0;
};

class SystemClock final : public Clock {
 public:
  double now() override;
  void sleep(double seconds) override;
};

// Delayed work, such as hiding an outline after its time. A desktop runs
// `task` once, `seconds` from now on its clock, on its main thread.
class Timers {
 public:
  virtual ~Timers() = default;
  virtual void after(double seconds, std::function<void()> task) = 0;
};

// The set of browser processes already prepared for reading, shared by every
// target of one desktop and guarded by its own lock.
class PreparedProcesses {
 public:
  // True when `pid` was not in the set before.
  bool insert(int32_t pid) {
    std::lock_guard lock(mutex_);
    return pids_.insert(pid).second;
  }

 private:
  std::mutex mutex_;
  std::set<int32_t> pids_;
};

// The services of one desktop, handed to everything that needs to reach it.
struct Platform {
  std::shared_ptr<Accessibility> accessibility;
  std::shared_ptr<Workspace> workspace;
  std::shared_ptr<Clock> clock;
  std::shared_ptr<SyntheticInput> input;
  std::shared_ptr<Pasteboard> pasteboard;
  std::shared_ptr<Overlay> overlay;
  std::shared_ptr<Defaults> defaults;
  std::shared_ptr<Timers> timers;
  std::shared_ptr<PreparedProcesses> prepared = std::make_shared<PreparedProcesses>();
};

}  // namespace tovrin
