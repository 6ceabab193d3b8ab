#include "platform/linux/atspi_transport.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
// Xlib names a type with a macro that would rename Reply::Status.
#undef Status

#include <chrono>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <sstream>
#include <unordered_map>

namespace tovrin::atspi {

double monotonicNow() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool Reply::gone() const {
  return status == Status::error && (error == "org.freedesktop.DBus.Error.UnknownObject" ||
                                     error == "org.freedesktop.DBus.Error.ServiceUnknown" ||
                                     error == "org.freedesktop.DBus.Error.NameHasNoOwner");
}

std::string callKey(const Call& call) {
  std::string key = call.dest + ' ' + call.path + ' ' + call.interface + '.' + call.method;
  if (call.args) {
    gchar* text = g_variant_print(call.args.get(), TRUE);
    key += ' ';
    key += text;
    g_free(text);
  }
  return key;
}

namespace {

struct GErrorDeleter {
  void operator()(GError* e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorDeleter>;

Reply replyFrom(GVariant* value, GError* error) {
  Reply reply;
  if (value) {
    reply.status = Reply::Status::ok;
    reply.value = Variant::take(value);
    return reply;
  }
  if (error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) {
    reply.status = Reply::Status::timeout;
    return reply;
  }
  reply.status = Reply::Status::error;
  if (error) {
    gchar* remote = g_dbus_error_get_remote_error(error);
    reply.error = remote ? remote : (error->message ? error->message : "error");
    g_free(remote);
  }
  return reply;
}

// Replies that are known at once (a hung application, a replayed call) wait
// in a queue so they are delivered inside wait(), like real ones.
class QueuedReplies {
 public:
  void push(ReplyHandler done, Reply reply) {
    queue_.emplace_back(std::move(done), std::move(reply));
  }
  bool deliverOne() {
    if (queue_.empty()) return false;
    auto [done, reply] = std::move(queue_.front());
    queue_.pop_front();
    done(std::move(reply));
    return true;
  }
  [[nodiscard]] bool empty() const { return queue_.empty(); }

 private:
  std::deque<std::pair<ReplyHandler, Reply>> queue_;
};

class BusTransport final : public Transport {
 public:
  BusTransport(GDBusConnection* bus, GMainContext* context) : bus_(bus), context_(context) {
    g_main_context_ref(context_);
  }
  ~BusTransport() override {
    // Pending callbacks hold a pointer to their state, not to us; cancel them
    // and let the context drop them.
    *alive_ = false;
    g_cancellable_cancel(cancellable_);
    while (g_main_context_iteration(context_, FALSE)) {
    }
    for (auto& [name, connection] : direct_) {
      if (connection) g_object_unref(connection);
    }
    g_object_unref(cancellable_);
    g_object_unref(bus_);
    g_main_context_unref(context_);
  }

  void send(const Call& call, ReplyHandler done) override {
    if (!g_dbus_is_name(call.dest.c_str())) {
      // An application that is not on the bus (a handle made for a process
      // that never registered).
      Reply missing;
      missing.status = Reply::Status::error;
      missing.error = "org.freedesktop.DBus.Error.ServiceUnknown";
      queued_.push(std::move(done), std::move(missing));
      return;
    }
    const double now = monotonicNow();
    if (auto it = hungUntil_.find(call.dest); it != hungUntil_.end()) {
      if (now < it->second) {
        Reply timeout;
        timeout.status = Reply::Status::timeout;
        queued_.push(std::move(done), std::move(timeout));
        return;
      }
      hungUntil_.erase(it);
    }
    GDBusConnection* direct = directConnection(call.dest);
    auto* pending = new Pending{this, call.dest, std::move(done), alive_};
    g_dbus_connection_call(direct ? direct : bus_, direct ? nullptr : call.dest.c_str(),
                           call.path.c_str(), call.interface.c_str(), call.method.c_str(),
                           call.args ? g_variant_ref(call.args.get()) : nullptr, nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs_, cancellable_,
                           &BusTransport::onReply, pending);
  }

  bool wait(const std::function<bool()>& finished, double deadline) override {
    while (queued_.deliverOne()) {
      if (finished()) return true;
    }
    if (finished()) return true;
    // Replies already in are dispatched without blocking; only then does
    // the wait sleep, woken by the next reply or the deadline (a stopped
    // browser never answers).
    while (g_main_context_iteration(context_, FALSE)) {
      if (finished()) return true;
    }
    const double left = deadline - monotonicNow();
    if (left <= 0) return finished();
    bool expired = false;
    GSource* timer = g_timeout_source_new(static_cast<guint>(left * 1000) + 1);
    g_source_set_callback(
        timer,
        [](gpointer flag) {
          *static_cast<bool*>(flag) = true;
          return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    g_source_attach(timer, context_);
    bool done = false;
    while (!(done = finished()) && !expired) {
      g_main_context_iteration(context_, TRUE);
      while (queued_.deliverOne() && !(done = finished())) {
      }
      if (done) break;
    }
    g_source_destroy(timer);
    g_source_unref(timer);
    return done;
  }

  void setCallTimeout(double seconds) override {
    timeoutMs_ = std::max(1, static_cast<int>(seconds * 1000));
  }

 private:
  struct Pending {
    BusTransport* self;
    std::string dest;
    ReplyHandler done;
    std::shared_ptr<bool> alive;
  };

  static void onReply(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
    GError* raw = nullptr;
    GVariant* value = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &raw);
    ErrorPtr error(raw);
    if (!*pending->alive || (error && g_error_matches(raw, G_IO_ERROR, G_IO_ERROR_CANCELLED))) {
      if (value) g_variant_unref(value);
      return;
    }
    Reply reply = replyFrom(value, raw);
    if (reply.status == Reply::Status::timeout) {
      // A stopped or hung application: later calls fail at once for a while
      // instead of each waiting out its own timeout.
      pending->self->hungUntil_[pending->dest] = monotonicNow() + 10.0;
    } else {
      pending->self->hungUntil_.erase(pending->dest);
    }
    pending->done(std::move(reply));
  }

  // The application's own socket, when it offers one: no bus daemon between
  // us, which roughly halves the cost of each call.
  GDBusConnection* directConnection(const std::string& dest) {
    if (dest.empty() || dest[0] != ':') return nullptr;
    if (auto it = direct_.find(dest); it != direct_.end()) {
      if (it->second && !g_dbus_connection_is_closed(it->second)) return it->second;
      if (it->second) {
        g_object_unref(it->second);
        it->second = nullptr;
      }
      return nullptr;
    }
    GDBusConnection* connection = nullptr;
    GError* raw = nullptr;
    GVariant* address = g_dbus_connection_call_sync(
        bus_, dest.c_str(), "/org/a11y/atspi/accessible/root", "org.a11y.atspi.Application",
        "GetApplicationBusAddress", nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
        timeoutMs_, nullptr, &raw);
    ErrorPtr error(raw);
    if (error && g_error_matches(raw, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) {
      hungUntil_[dest] = monotonicNow() + 10.0;
    }
    if (address) {
      const gchar* text = nullptr;
      g_variant_get(address, "(&s)", &text);
      if (text && *text) {
        GError* connectError = nullptr;
        connection = g_dbus_connection_new_for_address_sync(
            text, G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT, nullptr, nullptr, &connectError);
        if (connectError) g_error_free(connectError);
      }
      g_variant_unref(address);
    }
    direct_[dest] = connection;
    if (std::getenv("TOVRIN_ATSPI_DEBUG")) {
      fprintf(stderr, "atspi: %s: %s connection\n", dest.c_str(), connection ? "direct" : "bus");
    }
    return connection;
  }

  GDBusConnection* bus_;
  GMainContext* context_;
  GCancellable* cancellable_ = g_cancellable_new();
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::unordered_map<std::string, GDBusConnection*> direct_;
  std::unordered_map<std::string, double> hungUntil_;
  QueuedReplies queued_;
  int timeoutMs_ = 2000;
};

std::string statusText(const Reply& reply) {
  switch (reply.status) {
    case Reply::Status::ok: {
      gchar* text = g_variant_print(reply.value.get(), TRUE);
      std::string out = std::string("ok\t") + text;
      g_free(text);
      return out;
    }
    case Reply::Status::timeout:
      return "timeout";
    case Reply::Status::error:
      return "error\t" + reply.error;
  }
  return "error";
}

class RecordingTransport final : public Transport {
 public:
  RecordingTransport(std::unique_ptr<Transport> inner, const std::string& path)
      : inner_(std::move(inner)), out_(path, std::ios::app) {}

  void send(const Call& call, ReplyHandler done) override {
    std::string key = callKey(call);
    inner_->send(call, [this, key, done = std::move(done)](Reply reply) {
      if (written_.insert({key, true}).second) out_ << key << '\t' << statusText(reply) << '\n';
      done(std::move(reply));
    });
  }
  bool wait(const std::function<bool()>& finished, double deadline) override {
    bool done = inner_->wait(finished, deadline);
    out_.flush();
    return done;
  }
  void setCallTimeout(double seconds) override { inner_->setCallTimeout(seconds); }

 private:
  std::unique_ptr<Transport> inner_;
  std::ofstream out_;
  std::unordered_map<std::string, bool> written_;
};

class ReplayTransport final : public Transport {
 public:
  explicit ReplayTransport(std::unordered_map<std::string, Reply> replies)
      : replies_(std::move(replies)) {}

  void send(const Call& call, ReplyHandler done) override {
    auto it = replies_.find(callKey(call));
    Reply reply;
    if (it == replies_.end()) {
      reply.status = Reply::Status::error;
      reply.error = "org.tovrin.NotRecorded";
    } else {
      reply = it->second;
    }
    queued_.push(std::move(done), std::move(reply));
  }
  bool wait(const std::function<bool()>& finished, double) override {
    while (!finished()) {
      if (!queued_.deliverOne()) return finished();
    }
    return true;
  }
  void setCallTimeout(double) override {}

 private:
  std::unordered_map<std::string, Reply> replies_;
  QueuedReplies queued_;
};

std::optional<std::string> rootWindowBusAddress() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return std::nullopt;
  std::optional<std::string> out;
  Atom property = XInternAtom(display, "AT_SPI_BUS", True);
  if (property != None) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display), property, 0, 4096, False, XA_STRING,
                           &type, &format, &count, &after, &data) == Success &&
        data) {
      if (format == 8 && count > 0) out = std::string(reinterpret_cast<char*>(data), count);
      XFree(data);
    }
  }
  XCloseDisplay(display);
  return out;
}

}  // namespace

std::optional<std::string> accessibilityBusAddress(std::string& error) {
  if (const char* env = std::getenv("AT_SPI_BUS_ADDRESS"); env && *env) return std::string(env);
  GError* raw = nullptr;
  GDBusConnection* session = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &raw);
  if (session) {
    GVariant* reply = g_dbus_connection_call_sync(
        session, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr,
        G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE, 3000, nullptr, &raw);
    g_object_unref(session);
    if (reply) {
      const gchar* text = nullptr;
      g_variant_get(reply, "(&s)", &text);
      std::string address = text ? text : "";
      g_variant_unref(reply);
      if (!address.empty()) return address;
    }
  }
  if (raw) {
    error = raw->message ? raw->message : "the session bus did not answer";
    g_error_free(raw);
  }
  if (auto fromRoot = rootWindowBusAddress()) return fromRoot;
  if (error.empty()) error = "no accessibility bus is announced in this session";
  return std::nullopt;
}

std::unique_ptr<Transport> connectBus(std::string& error) {
  auto address = accessibilityBusAddress(error);
  if (!address) return nullptr;
  GError* raw = nullptr;
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      address->c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &raw);
  if (!bus) {
    error = std::string("cannot connect to the accessibility bus at ") + *address + ": " +
            (raw && raw->message ? raw->message : "no answer");
    if (raw) g_error_free(raw);
    return nullptr;
  }
  GMainContext* context = g_main_context_ref_thread_default();
  auto transport = std::make_unique<BusTransport>(bus, context);
  g_main_context_unref(context);
  return transport;
}

std::unique_ptr<Transport> recordTo(std::unique_ptr<Transport> inner, const std::string& path) {
  return std::make_unique<RecordingTransport>(std::move(inner), path);
}

std::unique_ptr<Transport> replayFrom(const std::string& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = path + ": cannot be read";
    return nullptr;
  }
  std::unordered_map<std::string, Reply> replies;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    auto tab = line.find('\t');
    if (tab == std::string::npos) {
      error = path + ":" + std::to_string(number) + ": expected a call, a tab and its reply";
      return nullptr;
    }
    std::string key = line.substr(0, tab);
    std::string rest = line.substr(tab + 1);
    Reply reply;
    if (rest == "timeout") {
      reply.status = Reply::Status::timeout;
    } else if (rest.rfind("error\t", 0) == 0) {
      reply.status = Reply::Status::error;
      reply.error = rest.substr(6);
    } else if (rest.rfind("ok\t", 0) == 0) {
      GError* raw = nullptr;
      GVariant* value = g_variant_parse(nullptr, rest.c_str() + 3, nullptr, nullptr, &raw);
      if (!value) {
        error = path + ":" + std::to_string(number) + ": " +
                (raw && raw->message ? raw->message : "unreadable reply");
        if (raw) g_error_free(raw);
        return nullptr;
      }
      reply.status = Reply::Status::ok;
      reply.value = Variant::take(value);
    } else {
      error = path + ":" + std::to_string(number) + ": a reply is ok, error or timeout";
      return nullptr;
    }
    replies[key] = std::move(reply);
  }
  return std::make_unique<ReplayTransport>(std::move(replies));
}

}  // namespace tovrin::atspi
