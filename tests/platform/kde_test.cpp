// KDE Plasma, against services of the test's own on a private session bus
// (the test runs under dbus-run-session with a configuration that activates
// nothing installed). Keys through the RemoteDesktop portal: the user is
// asked once, the restore token is kept in the settings and used from then
// on, keys arrive as keysyms, and a declined request is told in plain words
// with nothing sent. Raising a window through KWin's scripting.

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "platform/linux/wayland/kde/kwin_script.h"
#include "platform/linux/wayland/kde/portal_remote_desktop.h"

namespace tovrin {
namespace {

constexpr const char* kIntrospection = R"(
<node>
  <interface name="org.freedesktop.portal.RemoteDesktop">
    <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="SelectDevices"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="Start"><arg type="o" direction="in"/><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="NotifyKeyboardKeysym"><arg type="o" direction="in"/><arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="in"/></method>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.freedesktop.portal.Session">
    <method name="Close"/>
  </interface>
</node>)";

class MemoryDefaults final : public Defaults {
 public:
  std::optional<std::string> string(const std::string& key) override {
    auto it = values.find(key);
    return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
  std::optional<int64_t> integer(const std::string&) override { return std::nullopt; }
  void setString(const std::string& key, const std::string& value) override { values[key] = value; }
  void setInteger(const std::string&, int64_t) override {}
  std::map<std::string, std::string> values;
};

// The portal as desktops implement it: each call answers with a request
// path, and the outcome comes as that request's Response signal. It asks
// the user (counted) whenever Start comes without the token it gave last.
// A service on the private bus, on a connection and thread of its own (so
// its unique name differs from the client's, as on a desktop).
class BusService {
 public:
  BusService(const char* name, const char* xml,
             const std::vector<std::pair<std::string, const GDBusInterfaceVTable*>>& objects,
             void* owner) {
    node_ = g_dbus_node_info_new_for_xml(xml, nullptr);
    thread_ = std::thread([this, name, objects, owner] {
      g_main_context_push_thread_default(context_);
      connection = g_dbus_connection_new_for_address_sync(
          g_getenv("DBUS_SESSION_BUS_ADDRESS"),
          static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                            G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
          nullptr, nullptr, nullptr);
      for (std::size_t i = 0; i < objects.size(); ++i) {
        g_dbus_connection_register_object(connection, objects[i].first.c_str(),
                                          node_->interfaces[i], objects[i].second, owner, nullptr,
                                          nullptr);
      }
      GVariant* owned = g_dbus_connection_call_sync(
          connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
          "RequestName", g_variant_new("(su)", name, 4u), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
          nullptr, nullptr);
      if (owned) g_variant_unref(owned);
      ready_ = true;
      while (!stopping_)
        g_main_context_iteration(context_, TRUE);
      g_main_context_pop_thread_default(context_);
    });
    while (!ready_)
      std::this_thread::yield();
  }
  ~BusService() {
    stopping_ = true;
    g_main_context_wakeup(context_);
    thread_.join();
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
    g_dbus_node_info_unref(node_);
    g_main_context_unref(context_);
  }
  GDBusInterfaceInfo* interfaceInfo(int i) { return node_->interfaces[i]; }

  GDBusConnection* connection = nullptr;

 private:
  GDBusNodeInfo* node_ = nullptr;
  GMainContext* context_ = g_main_context_new();
  std::thread thread_;
  std::atomic<bool> ready_ = false;
  std::atomic<bool> stopping_ = false;
};

// What a fake service was asked, read from the test's thread.
class CallLog {
 public:
  void record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  std::vector<std::string> calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> calls_;
};

// The portal as desktops implement it: each call answers with a request
// path, and the outcome comes as that request's Response signal. It asks
// the user (counted) whenever Start comes without the token it gave last.
class FakePortal : public CallLog {
 public:
  std::atomic<bool> decline = false;

  static const GDBusInterfaceVTable* vtable() {
    static const GDBusInterfaceVTable table = {&onCall, &onGet, nullptr, {}};
    return &table;
  }
  FakePortal()
      : service_("org.freedesktop.portal.Desktop", kIntrospection,
                 {{"/org/freedesktop/portal/desktop", vtable()}}, this),
        connection_(service_.connection) {}

  int asked() {
    std::lock_guard lock(mutex_);
    return asked_;
  }

 private:
  // Answers `invocation` with a request path and sends that request's Response.
  void respond(GDBusMethodInvocation* invocation, GVariant* options, uint32_t code,
               GVariant* results) {
    const gchar* token = "t";
    g_variant_lookup(options, "handle_token", "&s", &token);
    std::string sender = g_dbus_method_invocation_get_sender(invocation) + 1;
    for (char& c : sender)
      if (c == '.') c = '_';
    const std::string path = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", path.c_str()));
    g_dbus_connection_emit_signal(connection_, g_dbus_method_invocation_get_sender(invocation),
                                  path.c_str(), "org.freedesktop.portal.Request", "Response",
                                  g_variant_new("(u@a{sv})", code, results), nullptr);
  }

  static GVariant* emptyResults() {
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    return g_variant_builder_end(&b);
  }

  static void onCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*,
                     const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                     gpointer data) {
    auto* self = static_cast<FakePortal*>(data);
    const std::string name = method;
    if (name == "CreateSession") {
      GVariant* options = g_variant_get_child_value(parameters, 0);
      std::string who = sender + 1;
      for (char& c : who)
        if (c == '.') c = '_';
      self->session_ = "/org/freedesktop/portal/desktop/session/" + who + "/tovrin";
      static const GDBusInterfaceVTable closeTable = {&FakePortal::onCall, nullptr, nullptr, {}};
      self->sessionObject_ = g_dbus_connection_register_object(
          self->connection_, self->session_.c_str(), self->service_.interfaceInfo(1), &closeTable,
          self, nullptr, nullptr);
      GVariantBuilder b;
      g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
      g_variant_builder_add(&b, "{sv}", "session_handle",
                            g_variant_new_string(self->session_.c_str()));
      self->record("CreateSession");
      self->respond(invocation, options, 0, g_variant_builder_end(&b));
      g_variant_unref(options);
    } else if (name == "SelectDevices") {
      GVariant* options = g_variant_get_child_value(parameters, 1);
      uint32_t types = 0, persist = 0;
      const gchar* restore = "";
      g_variant_lookup(options, "types", "u", &types);
      g_variant_lookup(options, "persist_mode", "u", &persist);
      g_variant_lookup(options, "restore_token", "&s", &restore);
      self->restore_ = restore;
      self->record("SelectDevices types=" + std::to_string(types) +
                   " persist=" + std::to_string(persist) + " restore=" + restore);
      self->respond(invocation, options, 0, emptyResults());
      g_variant_unref(options);
    } else if (name == "Start") {
      GVariant* options = g_variant_get_child_value(parameters, 2);
      const bool remembered = !self->issued_.empty() && self->restore_ == self->issued_;
      if (!remembered) {
        std::lock_guard lock(self->mutex_);
        ++self->asked_;
      }
      self->record("Start");
      if (self->decline) {
        self->respond(invocation, options, 1, emptyResults());
      } else {
        self->issued_ = "token-" + std::to_string(++self->tokens_);
        GVariantBuilder b;
        g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&b, "{sv}", "devices", g_variant_new_uint32(1));
        g_variant_builder_add(&b, "{sv}", "restore_token",
                              g_variant_new_string(self->issued_.c_str()));
        self->respond(invocation, options, 0, g_variant_builder_end(&b));
      }
      g_variant_unref(options);
    } else if (name == "NotifyKeyboardKeysym") {
      int32_t keysym = 0;
      uint32_t state = 0;
      g_variant_get_child(parameters, 2, "i", &keysym);
      g_variant_get_child(parameters, 3, "u", &state);
      self->record("key " + std::to_string(keysym) + (state ? " down" : " up"));
      g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (name == "Close") {
      self->record("Close");
      g_dbus_connection_unregister_object(self->connection_, self->sessionObject_);
      g_dbus_method_invocation_return_value(invocation, nullptr);
    }
  }

  static GVariant* onGet(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GError**, gpointer) {
    return g_variant_new_uint32(2);
  }

  BusService service_;
  GDBusConnection* connection_;
  std::mutex mutex_;
  int asked_ = 0;
  int tokens_ = 0;
  std::string session_, restore_, issued_;
  guint sessionObject_ = 0;
};

constexpr const char* kKWinIntrospection = R"(
<node>
  <interface name="org.kde.kwin.Scripting">
    <method name="loadScript"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="i" direction="out"/></method>
    <method name="start"/>
    <method name="unloadScript"><arg type="s" direction="in"/><arg type="b" direction="out"/></method>
  </interface>
</node>)";

// KWin's scripting as Plasma 5.27 and 6 offer it; it keeps the script's
// text as it read it when loaded.
class FakeKWin : public CallLog {
 public:
  static const GDBusInterfaceVTable* vtable() {
    static const GDBusInterfaceVTable table = {&onCall, nullptr, nullptr, {}};
    return &table;
  }
  FakeKWin() : service_("org.kde.KWin", kKWinIntrospection, {{"/Scripting", vtable()}}, this) {}

  std::string script() {
    std::lock_guard lock(mutex_);
    return script_;
  }

 private:
  static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                     const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                     gpointer data) {
    auto* self = static_cast<FakeKWin*>(data);
    const std::string name = method;
    if (name == "loadScript") {
      const gchar* path = nullptr;
      const gchar* plugin = nullptr;
      g_variant_get(parameters, "(&s&s)", &path, &plugin);
      gchar* text = nullptr;
      if (g_file_get_contents(path, &text, nullptr, nullptr)) {
        std::lock_guard lock(self->mutex_);
        self->script_ = text;
        g_free(text);
      }
      self->record(std::string("loadScript ") + plugin);
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(i)", 0));
    } else if (name == "start") {
      self->record("start");
      g_dbus_method_invocation_return_value(invocation, nullptr);
    } else {
      const gchar* plugin = nullptr;
      g_variant_get(parameters, "(&s)", &plugin);
      self->record(std::string("unloadScript ") + plugin);
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
    }
  }

  BusService service_;
  std::mutex mutex_;
  std::string script_;
};

bool onPrivateBus() {
  return g_getenv("TOVRIN_PRIVATE_BUS") != nullptr;
}

TEST(PortalRemoteDesktopTest, AsksOnceKeepsTheTokenAndSendsKeysyms) {
  if (!onPrivateBus()) GTEST_SKIP() << "runs only on the test's private bus";
  FakePortal portal;
  auto settings = std::make_shared<MemoryDefaults>();
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  {
    PortalKeyRoute route(bus, settings);
    EXPECT_EQ(route.problem(), "");
    ASSERT_TRUE(route.chord({XKB_KEY_Control_L}, XKB_KEY_l));
    route.finish();
    // A second command: the kept token spares the question.
    ASSERT_TRUE(route.chord({}, XKB_KEY_Return));
    route.finish();
  }
  // A new process (a new command line) reads the token from the settings.
  {
    PortalKeyRoute route(bus, settings);
    ASSERT_TRUE(route.chord({}, XKB_KEY_Tab));
    route.finish();
  }
  EXPECT_EQ(portal.asked(), 1);
  EXPECT_EQ(settings->values[kPortalRestoreTokenKey], "token-3");
  const std::vector<std::string> calls = portal.calls();
  const std::vector<std::string> firstCommand(calls.begin(), calls.begin() + 8);
  EXPECT_EQ(firstCommand, (std::vector<std::string>{
                              "CreateSession", "SelectDevices types=1 persist=2 restore=", "Start",
                              "key " + std::to_string(XKB_KEY_Control_L) + " down",
                              "key " + std::to_string(XKB_KEY_l) + " down",
                              "key " + std::to_string(XKB_KEY_l) + " up",
                              "key " + std::to_string(XKB_KEY_Control_L) + " up", "Close"}));
  EXPECT_EQ(calls[9], "SelectDevices types=1 persist=2 restore=token-1");
  g_object_unref(bus);
}

TEST(PortalRemoteDesktopTest, ADeclinedRequestSendsNothingAndSaysWhy) {
  if (!onPrivateBus()) GTEST_SKIP() << "runs only on the test's private bus";
  FakePortal portal;
  portal.decline = true;
  auto settings = std::make_shared<MemoryDefaults>();
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  PortalKeyRoute route(bus, settings);
  EXPECT_FALSE(route.chord({}, XKB_KEY_Return));
  EXPECT_FALSE(route.typeCharacter("a"));
  EXPECT_NE(route.problem().find("declined"), std::string::npos) << route.problem();
  for (const std::string& call : portal.calls())
    EXPECT_EQ(call.rfind("key ", 0), std::string::npos) << call;
  EXPECT_TRUE(settings->values.empty());
  g_object_unref(bus);
}

TEST(KWinScriptTest, TheBrowsersWindowIsActivatedByAScriptKWinRuns) {
  if (!onPrivateBus()) GTEST_SKIP() << "runs only on the test's private bus";
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  // No KWin on the bus: nothing raised, and the caller is told.
  EXPECT_FALSE(KWinScript::activate(bus, 4242));
  {
    FakeKWin kwin;
    ASSERT_TRUE(KWinScript::activate(bus, 4242));
    EXPECT_EQ(kwin.calls(), (std::vector<std::string>{"unloadScript tovrin-activate",
                                                      "loadScript tovrin-activate", "start"}));
    const std::string script = kwin.script();
    EXPECT_NE(script.find("w.pid === 4242"), std::string::npos) << script;
    // Plasma 6 names the active window activeWindow; 5.27 activeClient.
    EXPECT_NE(script.find("workspace.activeWindow = w"), std::string::npos);
    EXPECT_NE(script.find("workspace.activeClient = w"), std::string::npos);
  }
  {
    // The palette kept above the others, by a script of another name, so
    // that it never unloads a raise under way.
    FakeKWin kwin;
    ASSERT_TRUE(KWinScript::placePalette(bus, 77));
    EXPECT_EQ(kwin.calls(), (std::vector<std::string>{"unloadScript tovrin-palette",
                                                      "loadScript tovrin-palette", "start"}));
    const std::string script = kwin.script();
    EXPECT_NE(script.find("w.pid === 77 && w.caption === 'Tovrin'"), std::string::npos) << script;
    EXPECT_NE(script.find("w.keepAbove = true"), std::string::npos);
  }
  g_object_unref(bus);
}

}  // namespace
}  // namespace tovrin
