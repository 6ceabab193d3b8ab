#include "accessibility/browser.h"

#include <algorithm>
#include <cmath>

#include "accessibility/ax.h"

namespace tovrin {

std::optional<PageElement> BrowserAdapter::pickWebArea(
    const std::vector<PageElement>& webAreas) const {
  if (webAreas.empty()) return std::nullopt;
  const PageElement* best = &webAreas.front();
  double bestArea = -1;
  for (const PageElement& candidate : webAreas) {
    double area = candidate.frame
                      ? std::fabs(candidate.frame->width) * std::fabs(candidate.frame->height)
                      : 0.0;
    if (area > bestArea) {
      bestArea = area;
      best = &candidate;
    }
  }
  return *best;
}

void ChromiumAdapter::prepare(const AXElement& application) const {
  // Result codes are ignored: a browser that refuses is read without them.
  (void)AX::set(application, "AXManualAccessibility", true);
  (void)AX::set(application, "AXEnhancedUserInterface", true);
}

namespace BrowserRegistry {

const std::vector<std::unique_ptr<BrowserAdapter>>& adapters() {
  // After the macOS identifiers come the Linux desktop application ids of the
  // same browsers, so the Linux backend uses this table unchanged.
  static const auto* const list = [] {
    auto* out = new std::vector<std::unique_ptr<BrowserAdapter>>();
    out->push_back(std::make_unique<SafariAdapter>(
        "Safari",
        std::vector<std::string>{"com.apple.Safari", "com.apple.SafariTechnologyPreview"}));
    out->push_back(std::make_unique<ChromiumAdapter>(
        "Chrome", std::vector<std::string>{"com.google.Chrome", "com.google.Chrome.beta",
                                           "com.google.Chrome.canary", "chromium",
                                           "chromium-browser", "google-chrome"}));
    out->push_back(std::make_unique<FirefoxAdapter>(
        "Firefox",
        std::vector<std::string>{"org.mozilla.firefox", "org.mozilla.firefoxdeveloperedition",
                                 "org.mozilla.nightly", "firefox", "firefox-esr"}));
    out->push_back(std::make_unique<ChromiumAdapter>(
        "Arc", std::vector<std::string>{"company.thebrowser.Browser"}));
    out->push_back(std::make_unique<ChromiumAdapter>(
        "Brave", std::vector<std::string>{"com.brave.Browser", "com.brave.Browser.beta",
                                          "com.brave.Browser.nightly", "brave-browser"}));
    out->push_back(std::make_unique<ChromiumAdapter>(
        "Edge", std::vector<std::string>{"com.microsoft.edgemac", "com.microsoft.edgemac.Beta",
                                         "microsoft-edge"}));
    // WebKit on Linux: GNOME Web, which needs no preparation either.
    out->push_back(std::make_unique<SafariAdapter>(
        "GNOME Web", std::vector<std::string>{"org.gnome.Epiphany"}));
    return out;
  }();
  return *list;
}

const BrowserAdapter* adapter(const std::optional<std::string>& bundleID) {
  if (!bundleID) return nullptr;
  for (const auto& a : adapters()) {
    const auto& ids = a->bundleIDs();
    if (std::find(ids.begin(), ids.end(), *bundleID) != ids.end()) return a.get();
  }
  return nullptr;
}

std::string supportedNames() {
  return "Chrome, Chromium, Firefox, GNOME Web, Brave or Edge";
}

}  // namespace BrowserRegistry

std::optional<AXElement> BrowserTarget::window() const {
  if (!platform.accessibility || adapter == nullptr) return std::nullopt;
  AXElement application = platform.accessibility->createApplication(app.pid);
  if (!application) return std::nullopt;
  platform.accessibility->setMessagingTimeout(application, 2.0);
  if (platform.prepared && platform.prepared->insert(app.pid)) adapter->prepare(application);
  if (auto w = AX::element(application, "AXFocusedWindow")) return w;
  if (auto w = AX::element(application, "AXMainWindow")) return w;
  std::vector<AXElement> windows = AX::elements(application, "AXWindows");
  if (!windows.empty() && windows.front()) return windows.front();
  return std::nullopt;
}

std::optional<AXElement> BrowserTarget::focusedElement() const {
  if (!platform.accessibility) return std::nullopt;
  AXElement application = platform.accessibility->createApplication(app.pid);
  return AX::element(application, "AXFocusedUIElement");
}

std::string BrowserTarget::browserName() const {
  if (!app.localizedName.empty()) return app.localizedName;
  return adapter ? adapter->name() : std::string();
}

BrowserTracker::BrowserTracker(Platform platform) : platform_(std::move(platform)) {}

void BrowserTracker::start() {
  if (!platform_.workspace) return;
  if (auto front = platform_.workspace->frontmostApplication();
      front && BrowserRegistry::adapter(front->bundleID)) {
    state_->lastPID = front->pid;
  }
  // The observer must not keep the tracker's state alive on its own.
  std::weak_ptr<State> weak = state_;
  platform_.workspace->observeActivations([weak](const RunningApplication& app) {
    auto state = weak.lock();
    if (state && BrowserRegistry::adapter(app.bundleID)) state->lastPID = app.pid;
  });
}

std::optional<BrowserTarget> BrowserTracker::current() const {
  if (!platform_.workspace) return std::nullopt;
  if (auto front = platform_.workspace->frontmostApplication()) {
    if (const BrowserAdapter* a = BrowserRegistry::adapter(front->bundleID)) {
      return BrowserTarget{platform_, *front, a};
    }
  }
  if (state_->lastPID) {
    if (auto app = platform_.workspace->runningApplication(*state_->lastPID);
        app && !app->terminated) {
      if (const BrowserAdapter* a = BrowserRegistry::adapter(app->bundleID)) {
        return BrowserTarget{platform_, *app, a};
      }
    }
  }
  return std::nullopt;
}

}  // namespace tovrin
