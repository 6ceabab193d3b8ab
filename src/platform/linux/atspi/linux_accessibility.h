#pragma once

// Tovrin's accessibility operations over AT-SPI2. Every request goes to the
// accessibility bus from one thread of this object's own (AT-SPI is not safe
// to use from several), so callers on any thread block on that thread's
// answer. Page reads keep many requests in flight and stop at one overall
// deadline; an application that stops answering costs one timeout, after
// which its requests fail at once for a while.

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "accessibility/platform.h"

namespace tovrin::atspi {
class Transport;
struct Session;
}  // namespace tovrin::atspi

namespace tovrin {

// An application registered on the accessibility bus.
struct AccessibleApplication {
  std::string busName;
  int32_t pid = 0;
  std::string name;
  std::string toolkit;  // "Chromium", "Gecko", …
};

// One top-level window of an application on the accessibility bus.
struct AccessibleFrame {
  int32_t pid = 0;
  std::string busName;
  std::string name;
  bool active = false;  // it has the keyboard focus: the window in front
  bool showing = false;
};

// How much of a browser's tree Tovrin can see.
enum class TreeAccess {
  readable,      // its windows show their contents
  bareSkeleton,  // windows whose insides cannot be read (Chromium without its flag)
  noWindow,      // registered, but no window
  notOnBus,      // not registered: it started before accessibility support was on
  unresponsive,  // it does not answer (stopped or hung)
};

class LinuxAccessibility final : public Accessibility {
 public:
  struct Options {
    std::string recordFile;         // when set, every call and reply is appended here
    std::string replayFile;         // when set, answers come from this recording; no bus
    std::function<bool()> trusted;  // the trust check (the desktop's)
    std::function<void()> grant;    // turns assistive technology support on
    // The process whose window lies at a global point, for element-at-position.
    std::function<std::optional<int32_t>(double, double)> pidAtPoint;
    // Elements remembered across reads before those no recent read met are
    // forgotten (0: no limit).
    std::size_t rememberAtMost = 50'000;
  };

  // Nothing, with `error` set, when the bus (or the recording) cannot be used.
  static std::shared_ptr<LinuxAccessibility> open(Options options, std::string& error);
  ~LinuxAccessibility() override;

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
  bool isProcessTrusted() override;
  bool isProcessTrustedWithPrompt() override;
  // A page is read in bulk here: a 21,000-element documentation page is
  // read whole within the page read's time limit.
  [[nodiscard]] int pageElementCap(int /*designed*/) const override { return 60000; }
  // Over AT-SPI events on a connection of the watch's own; nothing when
  // reading a recording.
  std::shared_ptr<PageWatch> watchPages(int32_t pid) override;
  std::vector<TreeNode> readTree(const AXElement& root, const TreeRequest& request,
                                 Clock& clock) override;

  // The applications on the bus, asked afresh.
  std::vector<AccessibleApplication> applications();
  TreeAccess treeAccess(int32_t pid);
  // Every application's top-level windows, asked afresh.
  std::vector<AccessibleFrame> frames();

 private:
  explicit LinuxAccessibility(Options options);
  // Runs `task` on the AT-SPI thread and waits for it.
  template <typename T>
  T onBusThread(std::function<T(atspi::Session&)> task);
  void threadMain(std::promise<std::string> started);
  void wakeThread();

  Options options_;
  std::thread thread_;
  std::mutex mutex_;
  // Readable when a task is queued or the thread should stop: the thread
  // waits on it while it keeps the connections drained.
  int wakeFd_ = -1;
  std::deque<std::function<void(atspi::Session&)>> tasks_;
  bool stopping_ = false;
};

}  // namespace tovrin
