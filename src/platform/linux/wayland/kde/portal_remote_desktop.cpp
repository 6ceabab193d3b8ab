#include "platform/linux/wayland/kde/portal_remote_desktop.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>

#include "platform/linux/key_translation.h"

namespace tovrin {
namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
constexpr uint32_t kKeyboard = 1;
constexpr uint32_t kPersistUntilRevoked = 2;

double now() {
  return SystemClock().now();
}

// Where the portal puts a request's Response: its path is made from the
// caller's unique name and the token it chose.
std::string requestPath(GDBusConnection* bus, const std::string& token) {
  std::string sender = g_dbus_connection_get_unique_name(bus);
  if (!sender.empty() && sender.front() == ':') sender.erase(0, 1);
  std::replace(sender.begin(), sender.end(), '.', '_');
  return "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
}

struct Response {
  bool arrived = false;
  uint32_t code = 2;
  GVariant* results = nullptr;
};

void onResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                GVariant* parameters, gpointer data) {
  auto* response = static_cast<Response*>(data);
  if (response->arrived) return;
  response->arrived = true;
  g_variant_get(parameters, "(u@a{sv})", &response->code, &response->results);
}

}  // namespace

PortalRemoteDesktop::PortalRemoteDesktop(GDBusConnection* bus, std::shared_ptr<Defaults> settings)
    : bus_(bus ? static_cast<GDBusConnection*>(g_object_ref(bus)) : nullptr),
      settings_(std::move(settings)),
      context_(g_main_context_new()) {}

PortalRemoteDesktop::~PortalRemoteDesktop() {
  close();
  if (bus_) g_object_unref(bus_);
  g_main_context_unref(context_);
}

bool PortalRemoteDesktop::available() {
  if (!bus_) return false;
  GVariant* reply = g_dbus_connection_call_sync(
      bus_, kPortal, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", kRemoteDesktop, "version"), G_VARIANT_TYPE("(v)"),
      G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, nullptr);
  if (reply) g_variant_unref(reply);
  return reply != nullptr;
}

std::optional<GVariant*> PortalRemoteDesktop::request(const char* method, GVariant* arguments,
                                                      const std::string& token, double seconds) {
  Response response;
  // Subscribed before the call: a portal that answers at once is not missed.
  g_main_context_push_thread_default(context_);
  const guint subscription = g_dbus_connection_signal_subscribe(
      bus_, kPortal, "org.freedesktop.portal.Request", "Response", requestPath(bus_, token).c_str(),
      nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &onResponse, &response, nullptr);
  g_main_context_pop_thread_default(context_);
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus_, kPortal, kPortalPath, kRemoteDesktop, method,
                                                arguments, G_VARIANT_TYPE("(o)"),
                                                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
  if (reply) {
    g_variant_unref(reply);
    const double until = now() + seconds;
    while (!response.arrived && now() < until) {
      if (!g_main_context_iteration(context_, FALSE)) g_usleep(2000);
    }
  } else {
    error_ = std::string("the desktop portal refused ") + method + ": " +
             (error && error->message ? error->message : "no answer");
  }
  if (error) g_error_free(error);
  g_dbus_connection_signal_unsubscribe(bus_, subscription);
  while (g_main_context_iteration(context_, FALSE)) {
  }
  if (!reply) return std::nullopt;
  if (!response.arrived) {
    error_ = "the desktop did not answer Tovrin's request to send keys";
    return std::nullopt;
  }
  if (response.code != 0) {
    if (response.results) g_variant_unref(response.results);
    error_ = response.code == 1 ? "sending keys was not allowed (the request was declined)"
                                : "the desktop refused Tovrin's request to send keys";
    return std::nullopt;
  }
  return response.results;
}

bool PortalRemoteDesktop::open(double askSeconds) {
  if (isOpen()) return true;
  if (!bus_) {
    error_ = "the session bus is not running";
    return false;
  }
  error_.clear();
  auto token = [this] { return "tovrin" + std::to_string(++tokens_); };

  std::string t = token();
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(t.c_str()));
  g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string("tovrin"));
  auto created = request("CreateSession", g_variant_new("(a{sv})", &options), t, 10);
  if (!created) return false;
  const gchar* handle = nullptr;
  if (*created) g_variant_lookup(*created, "session_handle", "&s", &handle);
  session_ = handle ? handle : "";
  if (*created) g_variant_unref(*created);
  if (session_.empty()) {
    error_ = "the desktop portal made no session";
    return false;
  }

  t = token();
  const std::string restore =
      settings_ ? settings_->string(kPortalRestoreTokenKey).value_or("") : std::string();
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(t.c_str()));
  g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kKeyboard));
  g_variant_builder_add(&options, "{sv}", "persist_mode",
                        g_variant_new_uint32(kPersistUntilRevoked));
  if (!restore.empty())
    g_variant_builder_add(&options, "{sv}", "restore_token", g_variant_new_string(restore.c_str()));
  auto selected =
      request("SelectDevices", g_variant_new("(oa{sv})", session_.c_str(), &options), t, 10);
  if (!selected) {
    close();
    return false;
  }
  if (*selected) g_variant_unref(*selected);

  t = token();
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(t.c_str()));
  // Without a token the user is asked: as long as they need.
  auto started = request("Start", g_variant_new("(osa{sv})", session_.c_str(), "", &options), t,
                         restore.empty() ? askSeconds : 10);
  if (!started) {
    close();
    return false;
  }
  uint32_t devices = 0;
  const gchar* next = nullptr;
  if (*started) {
    g_variant_lookup(*started, "devices", "u", &devices);
    g_variant_lookup(*started, "restore_token", "&s", &next);
    // A token is good for one session: the next one comes with each start.
    if (settings_ && next && *next) settings_->setString(kPortalRestoreTokenKey, next);
    g_variant_unref(*started);
  }
  if ((devices & kKeyboard) == 0) {
    error_ = "the desktop gave Tovrin no keyboard";
    close();
    return false;
  }
  return true;
}

void PortalRemoteDesktop::close() {
  if (session_.empty() || !bus_) return;
  GVariant* reply = g_dbus_connection_call_sync(
      bus_, kPortal, session_.c_str(), "org.freedesktop.portal.Session", "Close", nullptr, nullptr,
      G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, nullptr);
  if (reply) g_variant_unref(reply);
  session_.clear();
}

bool PortalRemoteDesktop::keysym(uint32_t keysym, bool down) {
  if (!isOpen()) return false;
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  GVariant* reply = g_dbus_connection_call_sync(
      bus_, kPortal, kPortalPath, kRemoteDesktop, "NotifyKeyboardKeysym",
      g_variant_new("(oa{sv}iu)", session_.c_str(), &options, static_cast<int32_t>(keysym),
                    down ? 1u : 0u),
      nullptr, G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, nullptr);
  if (reply) g_variant_unref(reply);
  return reply != nullptr;
}

PortalKeyRoute::PortalKeyRoute(GDBusConnection* bus, std::shared_ptr<Defaults> settings)
    : portal_(bus, std::move(settings)) {}

bool PortalKeyRoute::ready() {
  return portal_.isOpen() || portal_.open();
}

bool PortalKeyRoute::chord(const std::vector<uint32_t>& modifiers, uint32_t key) {
  if (!ready()) return false;
  return pressChord(modifiers, key,
                    [this](uint32_t keysym, bool down) { return portal_.keysym(keysym, down); });
}

bool PortalKeyRoute::typeCharacter(const std::string& character) {
  if (auto keysym = layoutKeysym(character))
    return ready() && portal_.keysym(*keysym, true) && portal_.keysym(*keysym, false);
  if (!ready()) return false;
  return paste_.paste(character, [this] { return chord({XKB_KEY_Control_L}, XKB_KEY_v); });
}

void PortalKeyRoute::finish() {
  paste_.restore();
  portal_.close();
}

std::string PortalKeyRoute::problem() {
  if (!portal_.available()) {
    return "the desktop portal's RemoteDesktop interface does not answer "
           "(install xdg-desktop-portal-kde)";
  }
  return portal_.error();
}

}  // namespace tovrin
