#include "platform/linux/atspi/accessibility_events.h"

#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "platform/linux/atspi/atspi_transport.h"

namespace tovrin {

namespace {

constexpr const char* kRegistry = "org.a11y.atspi.Registry";
constexpr const char* kRegistryPath = "/org/a11y/atspi/registry";

struct SignalName {
  AccessibilityEvent::Kind kind;
  const char* registry;
  const char* interfaceName;
  const char* member;
  const char* detail;  // empty: any
};

constexpr SignalName kSignals[] = {
    {AccessibilityEvent::Kind::windowActivated, "window:activate", "org.a11y.atspi.Event.Window",
     "Activate", ""},
    {AccessibilityEvent::Kind::documentLoaded, "document:load-complete",
     "org.a11y.atspi.Event.Document", "LoadComplete", ""},
    {AccessibilityEvent::Kind::childrenChanged, "object:children-changed",
     "org.a11y.atspi.Event.Object", "ChildrenChanged", ""},
    {AccessibilityEvent::Kind::textChanged, "object:text-changed", "org.a11y.atspi.Event.Object",
     "TextChanged", ""},
    {AccessibilityEvent::Kind::nameChanged, "object:property-change:accessible-name",
     "org.a11y.atspi.Event.Object", "PropertyChange", "accessible-name"},
    // Firefox tells of a tab brought forward by no other event.
    {AccessibilityEvent::Kind::showingChanged, "object:state-changed:showing",
     "org.a11y.atspi.Event.Object", "StateChanged", "showing"},
};

const SignalName& signalOf(AccessibilityEvent::Kind kind) {
  for (const SignalName& s : kSignals) {
    if (s.kind == kind) return s;
  }
  return kSignals[0];
}

void callRegistry(GDBusConnection* bus, const char* method, GVariant* args) {
  GVariant* reply =
      g_dbus_connection_call_sync(bus, kRegistry, kRegistryPath, kRegistry, method, args, nullptr,
                                  G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
  if (reply) g_variant_unref(reply);
}

}  // namespace

std::string AccessibilityEventNames::registryName(AccessibilityEvent::Kind kind) {
  return signalOf(kind).registry;
}

std::optional<AccessibilityEvent::Kind> AccessibilityEventNames::kindOf(
    std::string_view interfaceName, std::string_view member, std::string_view detail) {
  for (const SignalName& s : kSignals) {
    if (interfaceName == s.interfaceName && member == s.member &&
        (*s.detail == '\0' || detail == s.detail)) {
      return s.kind;
    }
  }
  return std::nullopt;
}

struct AccessibilityEvents::Listener {
  GDBusConnection* bus = nullptr;
  std::vector<AccessibilityEvent::Kind> kinds;
  Handler handler;
  GMainContext* context = g_main_context_new();
  std::vector<guint> subscriptions;
  std::atomic<bool> stopping = false;
  std::mutex mutex;
  std::map<std::string, int32_t> pids;
  std::thread thread;

  static void onSignal(GDBusConnection*, const gchar* sender, const gchar* path,
                       const gchar* interfaceName, const gchar* member, GVariant* parameters,
                       gpointer data) {
    auto* self = static_cast<Listener*>(data);
    // Every AT-SPI event carries its detail first: (siiva{sv}).
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE_TUPLE) ||
        g_variant_n_children(parameters) == 0) {
      return;
    }
    GVariant* first = g_variant_get_child_value(parameters, 0);
    const std::string detail = g_variant_is_of_type(first, G_VARIANT_TYPE_STRING)
                                   ? g_variant_get_string(first, nullptr)
                                   : "";
    g_variant_unref(first);
    auto kind = AccessibilityEventNames::kindOf(interfaceName ? interfaceName : "",
                                                member ? member : "", detail);
    if (kind) self->handler({*kind, sender ? sender : "", path ? path : ""});
  }

  void start() {
    std::promise<void> subscribed;
    auto ready = subscribed.get_future();
    thread = std::thread([this, &subscribed] {
      g_main_context_push_thread_default(context);
      // Subscribed first, then registered: an event the registration sets
      // off is not missed.
      for (AccessibilityEvent::Kind kind : kinds) {
        const SignalName& s = signalOf(kind);
        subscriptions.push_back(g_dbus_connection_signal_subscribe(
            bus, nullptr, s.interfaceName, s.member, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            &onSignal, this, nullptr));
      }
      subscribed.set_value();
      while (!stopping)
        g_main_context_iteration(context, TRUE);
      g_main_context_pop_thread_default(context);
    });
    ready.wait();
    for (AccessibilityEvent::Kind kind : kinds) {
      const std::string name = AccessibilityEventNames::registryName(kind);
      callRegistry(bus, "RegisterEvent",
                   g_variant_new("(s@ass)", name.c_str(), g_variant_new_strv(nullptr, 0), ""));
    }
  }

  ~Listener() {
    for (AccessibilityEvent::Kind kind : kinds) {
      const std::string name = AccessibilityEventNames::registryName(kind);
      callRegistry(bus, "DeregisterEvent", g_variant_new("(s)", name.c_str()));
    }
    stopping = true;
    g_main_context_wakeup(context);
    if (thread.joinable()) thread.join();
    for (guint id : subscriptions)
      g_dbus_connection_signal_unsubscribe(bus, id);
    // Callbacks already queued are run here, where they reach nothing.
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    g_main_context_unref(context);
  }
};

std::unique_ptr<AccessibilityEvents> AccessibilityEvents::open(
    std::vector<AccessibilityEvent::Kind> kinds, Handler handler, std::string& error) {
  GDBusConnection* bus = atspi::connectAccessibilityBus(error);
  if (!bus) return nullptr;
  auto listener = std::make_unique<Listener>();
  listener->bus = bus;
  listener->kinds = std::move(kinds);
  listener->handler = std::move(handler);
  listener->start();
  return std::unique_ptr<AccessibilityEvents>(new AccessibilityEvents(std::move(listener)));
}

AccessibilityEvents::AccessibilityEvents(std::unique_ptr<Listener> listener)
    : listener_(std::move(listener)) {}

AccessibilityEvents::~AccessibilityEvents() = default;

void AccessibilityEvents::settle(const std::vector<std::string>& senders) {
  Listener& l = *listener_;
  for (const std::string& sender : senders) {
    GVariant* reply = g_dbus_connection_call_sync(
        l.bus, sender.c_str(), "/", "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr,
        G_DBUS_CALL_FLAGS_NO_AUTO_START, 500, nullptr, nullptr);
    if (reply) g_variant_unref(reply);
  }
  // The events heard by then wait in the service's thread: two turns of it
  // let them reach the handler.
  for (int turn = 0; turn < 2; ++turn) {
    auto* done = new std::promise<void>();
    std::future<void> future = done->get_future();
    g_main_context_invoke_full(
        l.context, G_PRIORITY_LOW,
        [](gpointer data) -> gboolean {
          static_cast<std::promise<void>*>(data)->set_value();
          return G_SOURCE_REMOVE;
        },
        done, [](gpointer data) { delete static_cast<std::promise<void>*>(data); });
    if (future.wait_for(std::chrono::seconds(1)) != std::future_status::ready) return;
  }
}

std::optional<int32_t> AccessibilityEvents::pidOf(const std::string& sender) {
  Listener& l = *listener_;
  {
    std::lock_guard lock(l.mutex);
    if (auto it = l.pids.find(sender); it != l.pids.end()) return it->second;
  }
  GVariant* reply = g_dbus_connection_call_sync(
      l.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "GetConnectionUnixProcessID", g_variant_new("(s)", sender.c_str()), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
  if (!reply) return std::nullopt;
  guint32 pid = 0;
  g_variant_get(reply, "(u)", &pid);
  g_variant_unref(reply);
  std::lock_guard lock(l.mutex);
  l.pids[sender] = static_cast<int32_t>(pid);
  return static_cast<int32_t>(pid);
}

}  // namespace tovrin
