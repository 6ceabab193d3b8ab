#pragma once

// Which applications count as browsers, how each family differs, the browser
// being driven (BrowserTarget) and the tracker that remembers the last
// browser the user was in.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accessibility/page_element.h"
#include "accessibility/platform.h"

namespace tovrin {

class BrowserAdapter {
 public:
  BrowserAdapter(std::string name, std::vector<std::string> bundleIDs)
      : name_(std::move(name)), bundleIDs_(std::move(bundleIDs)) {}
  virtual ~BrowserAdapter() = default;

  [[nodiscard]] const std::string& name() const { return name_; }
  [[nodiscard]] const std::vector<std::string>& bundleIDs() const { return bundleIDs_; }

  // One-time preparation of a browser process, given its application element.
  virtual void prepare(const AXElement& application) const = 0;
  // The page's web area among the window's: the largest by frame area, the
  // earlier on ties, the first when none has a frame.
  [[nodiscard]] virtual std::optional<PageElement> pickWebArea(
      const std::vector<PageElement>& webAreas) const;

 private:
  std::string name_;
  std::vector<std::string> bundleIDs_;
};

class SafariAdapter final : public BrowserAdapter {
 public:
  using BrowserAdapter::BrowserAdapter;
  void prepare(const AXElement&) const override {}
};

// Chromium builds its accessibility tree only when asked to.
class ChromiumAdapter final : public BrowserAdapter {
 public:
  using BrowserAdapter::BrowserAdapter;
  void prepare(const AXElement& application) const override;
};

class FirefoxAdapter final : public BrowserAdapter {
 public:
  using BrowserAdapter::BrowserAdapter;
  void prepare(const AXElement&) const override {}
};

namespace BrowserRegistry {
// In lookup order.
const std::vector<std::unique_ptr<BrowserAdapter>>& adapters();
// Exact, case-sensitive; nothing for no identifier or an unknown one.
const BrowserAdapter* adapter(const std::optional<std::string>& bundleID);
// The browsers a user of this desktop can open, for every place that lists
// them ("Chrome, Chromium, Firefox, GNOME Web, Brave or Edge"). Safari and Arc, which
// the registry knows by their identifiers, exist only on macOS.
std::string supportedNames();
}  // namespace BrowserRegistry

// The browser process being driven, with its family's adapter. A value the
// palette captures when shown; it does not follow later activations.
struct BrowserTarget {
  Platform platform;
  RunningApplication app;
  const BrowserAdapter* adapter = nullptr;

  // The browser window: focused, else main, else the first of its windows.
  // Sets a 2-second messaging timeout each time and prepares the process once.
  [[nodiscard]] std::optional<AXElement> window() const;
  // The element with keyboard focus in the browser.
  [[nodiscard]] std::optional<AXElement> focusedElement() const;
  // The application's localised name, or the adapter's name when it has none.
  [[nodiscard]] std::string browserName() const;
};

// Remembers the browser the user most recently activated, so the palette can
// act on it while another application (the palette itself) is in front. Lives
// for the whole run; start() once, then current() on the main thread.
class BrowserTracker {
 public:
  explicit BrowserTracker(Platform platform);

  void start();
  [[nodiscard]] std::optional<BrowserTarget> current() const;

 private:
  struct State {
    std::optional<int32_t> lastPID;  // written and read on the main thread only
  };
  Platform platform_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace tovrin
