#include "platform/linux/wayland/gnome/mutter_remote_desktop.h"

#include <gio/gunixfdlist.h>
#include <poll.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "platform/linux/key_translation.h"

namespace tovrin {
namespace {

constexpr const char* kService = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kPath = "/org/gnome/Mutter/RemoteDesktop";
constexpr const char* kSessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr const char* kTextMime = "text/plain;charset=utf-8";

double now() {
  return SystemClock().now();
}

bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads until the writer closes, giving up after `seconds` of silence.
std::optional<std::string> readAll(int fd, double seconds) {
  std::string out;
  char buffer[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(seconds * 1000)) != 1) return std::nullopt;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) return std::nullopt;
    if (n == 0) return out;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

GVariant* textMimeTypes() {
  const char* types[] = {kTextMime, "text/plain", "UTF8_STRING", "STRING", "TEXT", nullptr};
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&options, "{sv}", "mime-types", g_variant_new_strv(types, -1));
  return g_variant_builder_end(&options);
}

}  // namespace

MutterRemoteDesktop::MutterRemoteDesktop(GDBusConnection* bus)
    : context_(g_main_context_new()),
      bus_(bus ? static_cast<GDBusConnection*>(g_object_ref(bus)) : nullptr) {}

MutterRemoteDesktop::~MutterRemoteDesktop() {
  close();
  if (bus_) g_object_unref(bus_);
  g_main_context_unref(context_);
}

GVariant* MutterRemoteDesktop::call(const char* method, GVariant* args, const GVariantType* reply) {
  if (!bus_ || session_.empty()) {
    if (args) g_variant_unref(g_variant_ref_sink(args));
    return nullptr;
  }
  GError* error = nullptr;
  GVariant* out =
      g_dbus_connection_call_sync(bus_, kService, session_.c_str(), kSessionInterface, method, args,
                                  reply, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
  if (error) {
    error_ = std::string(method) + ": " + (error->message ? error->message : "failed");
    g_error_free(error);
  }
  return out;
}

bool MutterRemoteDesktop::available() const {
  if (!bus_) return false;
  GVariant* reply = g_dbus_connection_call_sync(
      bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", kService), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr,
      nullptr);
  gboolean has = FALSE;
  if (reply) {
    g_variant_get(reply, "(b)", &has);
    g_variant_unref(reply);
  }
  return has == TRUE;
}

bool MutterRemoteDesktop::open() {
  if (!session_.empty()) return true;
  if (!bus_) return false;
  closedByMutter_ = false;
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus_, kService, kPath, kService, "CreateSession",
                                                nullptr, G_VARIANT_TYPE("(o)"),
                                                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
  if (!reply) {
    error_ =
        std::string("CreateSession: ") + (error && error->message ? error->message : "no answer");
    if (error) g_error_free(error);
    return false;
  }
  const gchar* path = nullptr;
  g_variant_get(reply, "(&o)", &path);
  session_ = path;
  g_variant_unref(reply);
  // The session's signals (paste requests, clipboard owner changes, its
  // end) arrive in this object's own context, run only inside serve().
  g_main_context_push_thread_default(context_);
  subscription_ = g_dbus_connection_signal_subscribe(
      bus_, kService, kSessionInterface, nullptr, session_.c_str(), nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, &onSignal, this, nullptr);
  g_main_context_pop_thread_default(context_);
  if (GVariant* started = call("Start", nullptr, nullptr)) {
    g_variant_unref(started);
    return true;
  }
  close();
  return false;
}

void MutterRemoteDesktop::close() {
  if (session_.empty()) return;
  if (!closedByMutter_) {
    if (GVariant* r = call("Stop", nullptr, nullptr)) g_variant_unref(r);
  }
  if (subscription_) g_dbus_connection_signal_unsubscribe(bus_, subscription_);
  subscription_ = 0;
  // Signals already queued must not run against a session that is gone.
  while (g_main_context_iteration(context_, FALSE)) {
  }
  session_.clear();
  clipboardEnabled_ = false;
  ownsSelection_ = false;
  offered_.reset();
  ownerMimeTypes_.clear();
}

bool MutterRemoteDesktop::keysym(uint32_t keysym, bool down) {
  GVariant* r = call("NotifyKeyboardKeysym", g_variant_new("(ub)", keysym, down), nullptr);
  if (r) g_variant_unref(r);
  return r != nullptr;
}

bool MutterRemoteDesktop::keycode(uint32_t code, bool down) {
  GVariant* r = call("NotifyKeyboardKeycode", g_variant_new("(ub)", code, down), nullptr);
  if (r) g_variant_unref(r);
  return r != nullptr;
}

bool MutterRemoteDesktop::enableClipboard() {
  if (clipboardEnabled_) return true;
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
  GVariant* r = call("EnableClipboard", g_variant_new("(a{sv})", &options), nullptr);
  if (!r) return false;
  g_variant_unref(r);
  clipboardEnabled_ = true;
  // The present owner is announced right away.
  serve(0.2, [this] { return !ownerMimeTypes_.empty(); });
  return true;
}

bool MutterRemoteDesktop::offerSelection(const std::string& text) {
  if (!enableClipboard()) return false;
  offered_ = text;
  GVariant* r = call("SetSelection", g_variant_new("(@a{sv})", textMimeTypes()), nullptr);
  if (!r) {
    offered_.reset();
    return false;
  }
  g_variant_unref(r);
  ownsSelection_ = true;
  return true;
}

std::optional<std::string> MutterRemoteDesktop::readSelection() {
  if (ownsSelection_) return offered_;
  if (!enableClipboard()) return std::nullopt;
  bool text = false;
  for (const std::string& m : ownerMimeTypes_)
    text = text || m == kTextMime || m == "text/plain" || m == "UTF8_STRING";
  if (!text) return std::nullopt;
  GError* error = nullptr;
  GUnixFDList* fds = nullptr;
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
      bus_, kService, session_.c_str(), kSessionInterface, "SelectionRead",
      g_variant_new("(s)", kTextMime), G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
      &fds, nullptr, &error);
  if (error) g_error_free(error);
  if (!reply) {
    if (fds) g_object_unref(fds);
    return std::nullopt;
  }
  gint32 index = -1;
  g_variant_get(reply, "(h)", &index);
  g_variant_unref(reply);
  const int fd = fds ? g_unix_fd_list_get(fds, index, nullptr) : -1;
  if (fds) g_object_unref(fds);
  if (fd < 0) return std::nullopt;
  auto out = readAll(fd, 1.0);
  ::close(fd);
  return out;
}

bool MutterRemoteDesktop::serve(double seconds, const std::function<bool()>& done) {
  const double until = now() + seconds;
  // A keeper serving for good waits longer between looks than a paste
  // waiting for its one request.
  const auto pause = std::chrono::milliseconds(seconds > 10 ? 50 : 2);
  while (!done()) {
    // A bus that went away (the session ended) ends the serving too.
    if (now() >= until || session_.empty() || !bus_ || g_dbus_connection_is_closed(bus_))
      return done();
    if (!g_main_context_iteration(context_, FALSE)) std::this_thread::sleep_for(pause);
  }
  return true;
}

void MutterRemoteDesktop::onSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                   const gchar* signal, GVariant* parameters, gpointer data) {
  auto* self = static_cast<MutterRemoteDesktop*>(data);
  const std::string name = signal;
  if (name == "Closed") {
    self->closedByMutter_ = true;
    self->ownsSelection_ = false;
  } else if (name == "SelectionOwnerChanged") {
    GVariant* options = nullptr;
    g_variant_get(parameters, "(@a{sv})", &options);
    gboolean mine = FALSE;
    g_variant_lookup(options, "session-is-owner", "b", &mine);
    const gchar** types = nullptr;
    self->ownerMimeTypes_.clear();
    if (g_variant_lookup(options, "mime-types", "^a&s", &types) && types) {
      for (const gchar** t = types; *t; ++t)
        self->ownerMimeTypes_.emplace_back(*t);
      g_free(types);
    }
    if (self->ownerMimeTypes_.empty()) self->ownerMimeTypes_.emplace_back("");  // announced, empty
    if (!mine) self->ownsSelection_ = false;
    g_variant_unref(options);
  } else if (name == "SelectionTransfer") {
    const gchar* mime = nullptr;
    guint32 serial = 0;
    g_variant_get(parameters, "(&su)", &mime, &serial);
    bool ok = false;
    GUnixFDList* fds = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        self->bus_, kService, self->session_.c_str(), kSessionInterface, "SelectionWrite",
        g_variant_new("(u)", serial), G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
        &fds, nullptr, nullptr);
    if (reply) {
      gint32 index = -1;
      g_variant_get(reply, "(h)", &index);
      g_variant_unref(reply);
      const int fd = fds ? g_unix_fd_list_get(fds, index, nullptr) : -1;
      if (fd >= 0) {
        ok = self->offered_ && writeAll(fd, *self->offered_);
        ::close(fd);
      }
    }
    if (fds) g_object_unref(fds);
    if (GVariant* r = self->call("SelectionWriteDone", g_variant_new("(ub)", serial, ok), nullptr))
      g_variant_unref(r);
    ++self->transfers_;
    self->lastTransferAt_ = now();
  }
}

MutterKeyRoute::MutterKeyRoute(GDBusConnection* bus, std::function<void(const std::string&)> keeper)
    : desktop_(bus), keeper_(std::move(keeper)) {}

bool MutterKeyRoute::ready() {
  if (desktop_.closed()) desktop_.close();
  if (!desktop_.isOpen()) {
    if (!desktop_.open()) return false;
    warmedUp_ = false;
  }
  if (!warmedUp_) {
    // mutter drops the first key of a new session: give it a harmless one.
    desktop_.keysym(XKB_KEY_Shift_L, true);
    desktop_.keysym(XKB_KEY_Shift_L, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    warmedUp_ = true;
  }
  return true;
}

bool MutterKeyRoute::chord(const std::vector<uint32_t>& modifiers, uint32_t key) {
  if (!ready()) return false;
  return pressChord(modifiers, key,
                    [this](uint32_t keysym, bool down) { return desktop_.keysym(keysym, down); });
}

bool MutterKeyRoute::typeCharacter(const std::string& character) {
  if (auto keysym = layoutKeysym(character))
    return ready() && desktop_.keysym(*keysym, true) && desktop_.keysym(*keysym, false);
  return paste(character);
}

bool MutterKeyRoute::paste(const std::string& text) {
  if (!ready()) return false;
  // The user's clipboard is read once per command, before the first paste
  // replaces it, and offered again when the command's input is over.
  if (!saved_) saved_ = desktop_.readSelection();
  if (!desktop_.offerSelection(text)) return false;
  // A browser may fetch a new selection as soon as it is offered, and ask
  // again (more than once) on Ctrl+V. Every request is answered before the
  // next character is offered: one left waiting would be answered with the
  // next character's text.
  const int offered = desktop_.transfers();
  desktop_.serve(0.15, [] { return false; });
  const int before = desktop_.transfers();
  desktop_.keysym(XKB_KEY_Control_L, true);
  desktop_.keysym(XKB_KEY_v, true);
  desktop_.keysym(XKB_KEY_v, false);
  desktop_.keysym(XKB_KEY_Control_L, false);
  const bool asked = desktop_.serve(1.5, [&] { return desktop_.transfers() > before; });
  // Quiet for a moment: the browser's further requests are served too.
  desktop_.serve(1.0, [&] { return now() - desktop_.lastTransferAt() > 0.15; });
  // A browser that already holds the text it fetched on the offer does not
  // ask again.
  return asked || desktop_.transfers() > offered;
}

void MutterKeyRoute::finish() {
  if (saved_ && *saved_ && keeper_) keeper_(**saved_);
  saved_.reset();
  desktop_.close();
}

std::string MutterKeyRoute::problem() {
  if (desktop_.available()) return {};
  return "GNOME's remote desktop service (org.gnome.Mutter.RemoteDesktop) does not answer on "
         "the session bus";
}

}  // namespace tovrin
