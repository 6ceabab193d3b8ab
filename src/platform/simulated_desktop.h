#pragma once

// An in-memory desktop described by a scene file: applications, windows and
// element trees with attributes, actions and behaviours. It answers the
// platform interfaces as a browser would, applies effects the way a browser
// would (pressing a checkbox toggles it, setting a value changes it), records
// every effect in order, and makes waits instant: its clock only moves when
// something sleeps or an element is slow to answer.
//
// Safe to use from several threads: one lock guards the whole desktop.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "accessibility/platform.h"

namespace tovrin {

// One recorded effect, in the order it happened.
struct Effect {
  enum class Kind {
    action,          // element, detail = action name, result
    attributeWrite,  // element, detail = "AXValue = “hello”", result
    key,             // element = the receiving application, detail = "down 0 ⌘ “a”"
    mouse,           // detail = "down at 120,340"
    wheel,           // detail = "-200 at 720,480"
    activate,        // element = the application
    openURL,         // detail = the address, element = the bundle identifier
    clipboard,       // detail = the text
    outlineShown,    // detail = "10,20,100,30 for 1.5s"
    outlineHidden,
    defaultsWrite,  // detail = "profile.email = “…”"
    privacySettings,
  };
  Kind kind = Kind::action;
  std::string element;  // the element as a person would name it: AXButton “Sign in” #signin
  std::string detail;
  int32_t result = 0;

  // One line of text: "AXPress AXButton “Sign in” #signin → 0". Long texts are
  // cut to 80 characters.
  [[nodiscard]] std::string describe() const;
};

// A scene that could not be loaded: where and what.
struct SceneError {
  std::string message;  // "shop.json: apps[0].windows[0].frame: expected [x, y, width, height]"
};

class SimulatedDesktop final : public Accessibility,
                               public Workspace,
                               public Clock,
                               public SyntheticInput,
                               public Pasteboard,
                               public Overlay,
                               public Defaults,
                               public Timers {
 public:
  // Loads a scene file. Nothing is half-loaded: either the whole scene or an
  // error naming the file, the JSON path and what is wrong.
  static std::variant<std::shared_ptr<SimulatedDesktop>, SceneError> load(const std::string& path);
  static std::variant<std::shared_ptr<SimulatedDesktop>, SceneError> fromJson(
      std::string_view text, const std::string& sourceName);

  // The interfaces of this desktop, as the logic receives them.
  Platform platform();

  // What has happened so far, in order.
  [[nodiscard]] std::vector<Effect> effects() const;
  void clearEffects();

  // Test and demo controls.
  void terminate(int32_t pid);
  [[nodiscard]] AXElement elementNamed(const std::string& id);  // by the scene's "id"
  [[nodiscard]] std::optional<AXValue> attribute(const std::string& id, const std::string& name);
  [[nodiscard]] int32_t messagingTimeoutSets() const;

  // Accessibility
  AXResult<std::optional<AXValue>> copyAttributeValue(const AXElement& element,
                                                      std::string_view attribute) override;
  AXResult<std::optional<std::vector<AXValue>>> copyMultipleAttributeValues(
      const AXElement& element, const std::vector<std::string>& attributes) override;
  AXResult<std::optional<std::vector<std::string>>> copyActionNames(
      const AXElement& element) override;
  int32_t performAction(const AXElement& element, std::string_view action) override;
  int32_t setAttributeValue(const AXElement& element, std::string_view attribute,
                            const AXValue& value) override;
  AXResult<bool> isAttributeSettable(const AXElement& element, std::string_view attribute) override;
  AXResult<AXElement> elementAtPosition(const AXElement& systemWide, double x, double y) override;
  AXElement createApplication(int32_t pid) override;
  AXElement createSystemWide() override;
  int32_t setMessagingTimeout(const AXElement& application, double seconds) override;
  // Every effect but an outline may change a page.
  std::shared_ptr<PageWatch> watchPages(int32_t pid) override;
  bool isProcessTrusted() override;
  // The user granting (or taking back) access while Tovrin runs.
  void setTrusted(bool trusted);
  bool isProcessTrustedWithPrompt() override;

  // Workspace
  std::optional<RunningApplication> frontmostApplication() override;
  std::optional<RunningApplication> runningApplication(int32_t pid) override;
  void observeActivations(std::function<void(const RunningApplication&)> handler) override;
  void openPrivacySettings() override;
  // Brings an application to the front and notifies observers.
  bool activate(int32_t pid) override;
  bool openURLs(const std::vector<std::string>& urls, const std::string& bundleID) override;

  // Input. A key reaches the focused element of the process: text fields
  // take typed text, Command-A selects all (the next text replaces it),
  // Delete removes the selection or the last character, Command-C and
  // Command-V copy and paste. A mouse down and up at one point click the
  // element there: it is pressed (whatever its press behaviour) and a field
  // is focused. A wheel event moves the content of the web area under it.
  bool postKey(int32_t pid, const KeyEvent& event) override;
  bool postMouse(double x, double y, bool down) override;
  bool postScrollWheel(double x, double y, int32_t pixels) override;

  // Pasteboard
  void setString(const std::string& text) override;
  std::optional<std::string> string() override;

  // Overlay
  std::vector<Frame> screens() override;
  void showOutline(const Frame& frame, double seconds) override;
  void hideOutline() override;

  // Defaults
  std::optional<std::string> string(const std::string& key) override;
  std::optional<int64_t> integer(const std::string& key) override;
  void setString(const std::string& key, const std::string& value) override;
  void setInteger(const std::string& key, int64_t value) override;

  // Clock. Sleeping moves simulated time and then runs the timers that came
  // due, in order, outside the desktop's lock.
  double now() override;
  void sleep(double seconds) override;

  // Timers
  void after(double seconds, std::function<void()> task) override;

  // The scene, as loaded. Public so the loader can fill it in.
  struct ElementRef {
    uint64_t key = 0;
  };
  struct ElementRefs {
    std::vector<uint64_t> keys;
  };
  using SceneValue = std::variant<AXNull, std::string, AXAttributedString, AXNumber, bool, AXPoint,
                                  AXSize, AXErrorValue, AXURL, ElementRef, ElementRefs>;
  struct Behavior {
    std::optional<int32_t> pressResult;   // AXPress is refused with this code
    bool ignoresKeys = false;             // synthetic keys do not reach it; values still can
    std::optional<int> vanishAfterReads;  // gone after this many attribute reads
    std::optional<int> stallAfterReads;   // silent after this many: a stopped or killed app
    double delay = 0;                     // seconds each request takes
    std::optional<int32_t> readError;     // every request fails with this code
    std::map<std::string, SceneValue> attributes;  // reported instead of (or besides) the others
  };
  struct Node {
    uint64_t key = 0;
    int32_t pid = 0;
    std::string id;  // the scene's name for it, if any
    std::map<std::string, SceneValue> attributes;
    std::vector<std::string> actions;
    std::set<std::string> settable;
    std::vector<uint64_t> children;
    std::optional<uint64_t> parent;
    Behavior behavior;
    int reads = 0;
    bool gone = false;
    bool allSelected = false;       // after Command-A, typing replaces the value
    std::optional<uint64_t> loads;  // pressing it replaces its page with this one
  };
  struct App {
    RunningApplication info;
    bool frontmost = false;
    bool activates = true;  // false: the desktop refuses to bring it to the front
    uint64_t node = 0;      // the application element
    std::optional<std::size_t> focusedWindow;
    std::optional<std::size_t> mainWindow;
  };
  struct Scene {
    bool trusted = true;
    std::vector<Frame> screens;
    std::vector<App> apps;
    std::map<uint64_t, Node> nodes;
    std::map<std::string, std::variant<std::string, int64_t>> defaults;
    std::optional<std::string> clipboard;
    std::map<std::string, uint64_t> pages;  // pages a link can load, by id, not yet shown
  };

  explicit SimulatedDesktop(Scene scene);

 private:
  static constexpr uint64_t kSystemWideKey = 1;

  // The node behind a handle, after the trust, existence, slowness and
  // vanishing checks a request goes through; a code when it fails.
  std::variant<Node*, int32_t> reach(const AXElement& element, bool countsAsRead,
                                     bool actionNames = false);
  std::optional<AXValue> read(const Node& node, std::string_view attribute);
  AXValue toValue(const SceneValue& value);
  AXElement handle(uint64_t key);
  App* appForPid(int32_t pid);
  std::string describeNode(const Node& node) const;
  void record(Effect effect);
  std::string appName(int32_t pid);
  // What pressing does to an element, by mouse or by AXPress.
  void applyPress(Node& node);
  Node* focusedNode(int32_t pid);
  std::optional<uint64_t> hitTest(double x, double y);
  std::optional<AXPoint> mouseDown_;
  void loadPage(Node& link);
  std::optional<uint64_t> webAreaOf(uint64_t key);
  void shiftContent(uint64_t area, double dy);
  bool scrollToVisible(Node& node);
  void markGone(uint64_t root);
  struct Timer {
    double due = 0;
    uint64_t order = 0;
    std::function<void()> task;
  };
  std::vector<Timer> timers_;
  uint64_t timerOrder_ = 0;

  mutable std::recursive_mutex mutex_;
  Scene scene_;
  std::map<int32_t, double> timeouts_;  // per application, seconds
  int32_t timeoutSets_ = 0;
  double now_ = 0;
  std::vector<Effect> effects_;
  std::shared_ptr<std::atomic<uint64_t>> pageChanges_ = std::make_shared<std::atomic<uint64_t>>(0);
  std::vector<std::function<void(const RunningApplication&)>> observers_;
};

}  // namespace tovrin
