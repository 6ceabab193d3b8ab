#pragma once
// AT-SPI events, heard on a connection of their own: which window became
// active, and when a page's document loaded or changed. Applications emit
// an event only while some listener has registered it with the registry, so
// opening this service registers the kinds it asks for, and closing it takes
// them back.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovrin {

struct AccessibilityEvent {
  enum class Kind {
    windowActivated,
    documentLoaded,
    childrenChanged,
    textChanged,
    nameChanged,
    showingChanged,
  };
  Kind kind = Kind::windowActivated;
  std::string sender;  // the application's unique name on the accessibility bus
  std::string path;    // the object the event is about
};

namespace AccessibilityEventNames {
// The name the registry knows a kind by ("window:activate", …).
std::string registryName(AccessibilityEvent::Kind kind);
// The kind a signal stands for; nothing for signals Tovrin does not follow
// (a property change other than the name, say).
std::optional<AccessibilityEvent::Kind> kindOf(std::string_view interfaceName,
                                               std::string_view member, std::string_view detail);
}  // namespace AccessibilityEventNames

class AccessibilityEvents {
 public:
  using Handler = std::function<void(const AccessibilityEvent&)>;

  // Nothing, with `error` set, when the accessibility bus cannot be reached.
  // `handler` runs on the service's own thread.
  static std::unique_ptr<AccessibilityEvents> open(std::vector<AccessibilityEvent::Kind> kinds,
                                                   Handler handler, std::string& error);
  ~AccessibilityEvents();
  AccessibilityEvents(const AccessibilityEvents&) = delete;
  AccessibilityEvents& operator=(const AccessibilityEvents&) = delete;

  // The process behind a sender, asked of the bus once and remembered.
  std::optional<int32_t> pidOf(const std::string& sender);
  // Returns once every event these applications sent before the call has
  // reached the handler: a round trip to each (which their earlier events
  // precede), then a turn of the service's thread. Bounded by short waits.
  void settle(const std::vector<std::string>& senders);

 private:
  struct Listener;  // the connection and its thread, kept out of this header
  explicit AccessibilityEvents(std::unique_ptr<Listener> listener);
  std::unique_ptr<Listener> listener_;
};

}  // namespace tovrin
