#include "platform/linux/atspi/atspi_transport.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
// Xlib names a type with a macro that would rename Reply::Status.
#undef Status

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/linux/atspi/peer_socket.h"

namespace tovrin::atspi {

namespace {

// A process's state letter (R, S, T, Z, …), or nothing when it is not there.
std::optional<char> processState(long pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return std::nullopt;
  // The state follows the command name, which is in parentheses and may
  // hold anything, spaces and parentheses included.
  const auto close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return std::nullopt;
  return line[close + 2];
}

}  // namespace

bool processStopped(long pid) {
  const std::optional<char> state = processState(pid);
  return !state || *state == 'T' || *state == 't' || *state == 'Z' || *state == 'X';
}

bool processGone(long pid) {
  const std::optional<char> state = processState(pid);
  return !state || *state == 'Z' || *state == 'X';
}

double monotonicNow() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void Transport::idle(int wakeFd) {
  pollfd p{wakeFd, POLLIN, 0};
  while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
  }
  uint64_t count = 0;
  ssize_t ignored = ::read(wakeFd, &count, sizeof count);
  (void)ignored;
}

Reply replyOf(GDBusMessage* message) {
  Reply reply;
  if (g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_ERROR) {
    reply.status = Reply::Status::error;
    const gchar* name = g_dbus_message_get_error_name(message);
    reply.error = name ? name : "error";
  } else {
    reply.status = Reply::Status::ok;
    GVariant* body = g_dbus_message_get_body(message);
    // The body's reference stays ours after the message goes.
    reply.value = Variant::adopt(body ? g_variant_ref(body) : g_variant_new("()"));
  }
  return reply;
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

// Calls to an application that offers its own socket go there, through a
// PeerSocket read and written on this thread. The rest go through the bus
// daemon with GDBus; their replies are taken off the connection by a filter
// on GDBus's own I/O thread and handed over through a queue: no task or
// main-loop dispatch per reply, which is what a call costs most in GDBus
// when thousands are in flight.
class BusTransport final : public Transport {
 public:
  explicit BusTransport(GDBusConnection* bus) : bus_(bus) { watch(bus_); }

  ~BusTransport() override {
    unwatch(bus_);
    g_object_unref(bus_);
    // A filter still running on GDBus's thread sees the descriptor gone.
    std::lock_guard lock(shared_->mutex);
    if (shared_->wakeFd >= 0) ::close(shared_->wakeFd);
    shared_->wakeFd = -1;
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
    if (g_dbus_connection_is_closed(bus_)) reconnect(now);
    if (auto it = hungUntil_.find(call.dest); it != hungUntil_.end()) {
      if (now < it->second) {
        Reply timeout;
        timeout.status = Reply::Status::timeout;
        queued_.push(std::move(done), std::move(timeout));
        return;
      }
      hungUntil_.erase(it);
    }
    Outstanding entry{
        call.dest, std::move(done), now + timeout_, now + std::max(timeout_, patience_), {}, {}};
    if (PeerSocket* peer = directPeer(call.dest)) {
      if (const uint32_t serial = peer->queue(call); serial != 0) {
        entry.call = call;
        track(Key{peer, serial}, std::move(entry));
        // Written in one go when replies are next awaited, unless much is waiting.
        if (peer->wantsWrite() && outstanding_.size() % 512 == 0 && !peer->flush())
          dropPeer(call.dest);
        return;
      }
      // The socket closed: the bus says whether the application is still there.
      dropPeer(call.dest);
    }
    GDBusConnection* connection = bus_;
    GDBusMessage* message = g_dbus_message_new_method_call(
        call.dest.c_str(), call.path.c_str(), call.interface.c_str(), call.method.c_str());
    if (call.args) g_dbus_message_set_body(message, call.args.get());
    g_dbus_message_set_flags(message, G_DBUS_MESSAGE_FLAGS_NO_AUTO_START);
    {
      // Held across the send so that the reply cannot be filtered before
      // it is expected.
      std::lock_guard lock(shared_->mutex);
      guint32 serial = 0;
      GError* error = nullptr;
      if (!g_dbus_connection_send_message(connection, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE,
                                          &serial, &error)) {
        Reply failed;
        failed.status = Reply::Status::error;
        failed.error = error && error->message ? error->message : "not sent";
        if (error) g_error_free(error);
        queued_.push(std::move(entry.done), std::move(failed));
      } else {
        shared_->expected.insert({connection, serial});
        track(Key{connection, serial}, std::move(entry));
      }
    }
    g_object_unref(message);
  }

  bool wait(const std::function<bool()>& finished, double deadline) override {
    for (;;) {
      while (queued_.deliverOne()) {
        if (finished()) return true;
      }
      if (finished()) return true;
      flushPeers();
      const bool heard = pollOnce(std::min(deadline, nextTimeout()), -1);
      expireOverdue();
      if (!heard && queued_.empty() && monotonicNow() >= deadline) return finished();
    }
  }

  void idle(int wakeFd) override {
    // Applications write their events to their sockets unasked; they are
    // read and dropped here, or they would pile up in the application.
    while (!pollOnce(std::numeric_limits<double>::infinity(), wakeFd)) {
    }
  }

  [[nodiscard]] bool ready() const { return shared_->wakeFd >= 0; }
  void setCallTimeout(double seconds) override { timeout_ = std::max(0.001, seconds); }
  void setPatience(double seconds) override { patience_ = std::max(0.0, seconds); }
  [[nodiscard]] uint64_t busInstance() const override { return busInstance_; }

 private:
  // The connection or peer socket a call went out on, and its serial there.
  using Key = std::pair<const void*, guint32>;
  struct KeyHash {
    std::size_t operator()(const Key& k) const {
      return std::hash<const void*>()(k.first) ^ (std::hash<guint32>()(k.second) << 1);
    }
  };
  struct Outstanding {
    std::string dest;
    ReplyHandler done;
    double deadline = 0;
    double giveUpAt = 0;                        // past `deadline` only for a patient call
    std::multimap<double, Key>::iterator slot;  // its place among the deadlines
    Call call;  // kept for a call on a peer socket: the bus takes it if the socket closes
  };
  // What the I/O threads and this one share.
  struct Shared {
    std::mutex mutex;
    int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);  // readable while `arrived` fills
    std::unordered_set<Key, KeyHash> expected;
    std::deque<std::pair<Key, GDBusMessage*>> arrived;
    ~Shared() {
      for (auto& [key, message] : arrived)
        g_object_unref(message);
    }
  };

  static GDBusMessage* filter(GDBusConnection* connection, GDBusMessage* message, gboolean incoming,
                              gpointer data) {
    if (!incoming) return message;
    const GDBusMessageType type = g_dbus_message_get_message_type(message);
    if (type == G_DBUS_MESSAGE_TYPE_SIGNAL) {
      // A browser sends every event it has to each peer socket, unasked;
      // nothing here listens, and GDBus would queue each one for a main
      // loop this thread never runs (a megabyte a command on a busy page).
      g_object_unref(message);
      return nullptr;
    }
    if (type != G_DBUS_MESSAGE_TYPE_METHOD_RETURN && type != G_DBUS_MESSAGE_TYPE_ERROR) {
      return message;
    }
    auto& shared = *static_cast<Shared*>(data);
    Key key{connection, g_dbus_message_get_reply_serial(message)};
    std::lock_guard lock(shared.mutex);
    if (shared.expected.erase(key) == 0) return message;  // someone else's reply
    // One wake-up for a batch: the reader empties the whole queue.
    if (shared.arrived.empty() && shared.wakeFd >= 0) {
      const uint64_t one = 1;
      ssize_t ignored = ::write(shared.wakeFd, &one, sizeof one);
      (void)ignored;
    }
    shared.arrived.emplace_back(key, message);  // the queue owns it now
    return nullptr;
  }

  // A filter may still be running on GDBus's thread after it is removed,
  // and GDBus hands a removed filter's data back later, on a main context
  // that nobody may ever run again (its free function then never comes).
  // So the filters' shared state is kept for the life of the process, one
  // per transport, instead of being freed through GDBus.
  static Shared* lasting(const std::shared_ptr<Shared>& shared) {
    static std::mutex mutex;
    static auto* kept = new std::vector<std::shared_ptr<Shared>>();
    std::lock_guard lock(mutex);
    if (std::find(kept->begin(), kept->end(), shared) == kept->end()) kept->push_back(shared);
    return shared.get();
  }

  void watch(GDBusConnection* connection) {
    filters_[connection] =
        g_dbus_connection_add_filter(connection, &BusTransport::filter, lasting(shared_), nullptr);
  }
  void unwatch(GDBusConnection* connection) {
    if (auto it = filters_.find(connection); it != filters_.end()) {
      g_dbus_connection_remove_filter(connection, it->second);
      filters_.erase(it);
    }
  }

  void deliver(const Key& key, GDBusMessage* message, bool now) {
    Reply reply = replyOf(message);
    g_object_unref(message);
    deliver(key, std::move(reply), now);
  }

  // Hands a reply to its caller: now inside wait(), or later (queued)
  // when it arrived while the transport was idle.
  void deliver(const Key& key, Reply reply, bool now) {
    auto it = outstanding_.find(key);
    if (it == outstanding_.end()) return;  // given up on already
    Outstanding entry = untrack(it);
    hungUntil_.erase(entry.dest);
    if (now) {
      entry.done(std::move(reply));
    } else {
      queued_.push(std::move(entry.done), std::move(reply));
    }
  }

  void flushPeers() {
    std::vector<std::string> broken;
    for (auto& [dest, peer] : peers_) {
      // A socket that closed since is let go here too, so that its calls
      // fail now rather than wait out their time.
      if (peer && (peer->closed() || (peer->wantsWrite() && !peer->flush())))
        broken.push_back(dest);
    }
    for (const std::string& dest : broken)
      dropPeer(dest);
  }

  // Waits until `until` (monotonic seconds) for replies on the bus or the
  // peer sockets, or for `wakeFd` (-1: none) to be readable, and takes in
  // what arrived: delivered at once inside wait(), queued when idle. True
  // when anything arrived or `wakeFd` was readable.
  bool pollOnce(double until, int wakeFd) {
    const bool idle = wakeFd >= 0;
    std::vector<pollfd> fds;
    std::vector<std::string> owners;  // the peer behind each descriptor after the first ones
    fds.push_back({shared_->wakeFd, POLLIN, 0});
    if (idle) fds.push_back({wakeFd, POLLIN, 0});
    const std::size_t firstPeer = fds.size();
    for (auto& [dest, peer] : peers_) {
      if (!peer) continue;
      fds.push_back(
          {peer->fd(), static_cast<short>(POLLIN | (peer->wantsWrite() ? POLLOUT : 0)), 0});
      owners.push_back(dest);
    }
    const double left = until - monotonicNow();
    const int timeout =
        std::isinf(left) ? -1 : (left <= 0 ? 0 : static_cast<int>(std::ceil(left * 1000)));
    const int ready = ::poll(fds.data(), fds.size(), timeout);
    if (ready <= 0) return false;
    bool heard = false;
    if (fds[0].revents != 0) {
      uint64_t count = 0;
      ssize_t ignored = ::read(shared_->wakeFd, &count, sizeof count);
      (void)ignored;
      std::deque<std::pair<Key, GDBusMessage*>> arrived;
      {
        std::lock_guard lock(shared_->mutex);
        arrived.swap(shared_->arrived);
      }
      for (auto& [key, message] : arrived)
        deliver(key, message, !idle);
      heard = heard || !arrived.empty();
    }
    if (idle && fds[1].revents != 0) {
      uint64_t count = 0;
      ssize_t ignored = ::read(wakeFd, &count, sizeof count);
      (void)ignored;
      heard = true;
    }
    std::vector<std::string> broken;
    for (std::size_t i = firstPeer; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      const std::string& dest = owners[i - firstPeer];
      // A reply handled above may have sent a call that found this socket
      // closed and let it go.
      auto it = peers_.find(dest);
      PeerSocket* peer = it == peers_.end() ? nullptr : it->second.get();
      if (peer == nullptr) continue;
      if ((fds[i].revents & POLLOUT) != 0 && !peer->flush()) {
        broken.push_back(dest);
        continue;
      }
      if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      std::vector<std::pair<uint32_t, Reply>> replies;
      const bool open = peer->receive(replies);
      for (auto& [serial, reply] : replies)
        deliver(Key{peer, serial}, std::move(reply), !idle);
      heard = heard || !replies.empty();
      if (!open) broken.push_back(dest);
    }
    for (const std::string& dest : broken)
      dropPeer(dest);
    return heard || !broken.empty();
  }

  // A peer socket that closed. When the process is gone its unanswered
  // calls fail as its elements gone, so that nothing takes a killed
  // browser's silence for a press to try another way. When it still runs
  // (it broke off, or wrote what could not be read), its unanswered
  // questions are asked again through the bus, as every later call is: a
  // read loses nothing of the page to a socket that closed under it. What
  // acts (a press, a value set) fails instead: it may have been done
  // already, and must not be done twice.
  void dropPeer(const std::string& dest) {
    auto it = peers_.find(dest);
    if (it == peers_.end() || !it->second) return;
    std::unique_ptr<PeerSocket> peer = std::move(it->second);  // the entry stays: never reopened
    const long pid = pidOf(dest);
    // A process closes its sockets a moment before it is marked ended.
    bool gone = pid <= 0 || processGone(pid);
    for (int i = 0; i < 20 && !gone; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      gone = processGone(pid);
    }
    if (gone) {
      failCallsOn(peer.get(), "org.freedesktop.DBus.Error.ServiceUnknown");
      return;
    }
    std::vector<Outstanding> again;
    for (auto entry = outstanding_.begin(); entry != outstanding_.end();) {
      if (entry->first.first == peer.get() && entry->second.call.method.starts_with("Get")) {
        again.push_back(untrack(entry++));  // erasing leaves the next one valid
      } else {
        ++entry;
      }
    }
    failCallsOn(peer.get());  // what acts
    if (std::getenv("TOVRIN_ATSPI_DEBUG")) {
      std::fprintf(stderr,
                   "atspi: %s: its socket closed (%s); %zu unanswered calls go by the bus\n",
                   dest.c_str(), peer->closedBecause().c_str(), again.size());
    }
    for (Outstanding& entry : again)
      send(entry.call, std::move(entry.done));
  }

  void failCallsOn(const void* connection,
                   const char* error = "org.freedesktop.DBus.Error.Disconnected") {
    for (auto it = outstanding_.begin(); it != outstanding_.end();) {
      if (it->first.first != connection) {
        ++it;
        continue;
      }
      Reply closed;
      closed.status = Reply::Status::error;
      closed.error = error;
      queued_.push(std::move(it->second.done), std::move(closed));
      byDeadline_.erase(it->second.slot);
      it = outstanding_.erase(it);
    }
  }

  // Thousands of calls may be in flight: the earliest deadline is kept at
  // hand instead of being sought among them after every reply.
  void track(const Key& key, Outstanding entry) {
    auto [it, added] = outstanding_.emplace(key, std::move(entry));
    if (added) it->second.slot = byDeadline_.emplace(it->second.deadline, key);
  }
  Outstanding untrack(std::unordered_map<Key, Outstanding, KeyHash>::iterator it) {
    byDeadline_.erase(it->second.slot);
    Outstanding entry = std::move(it->second);
    outstanding_.erase(it);
    return entry;
  }

  double nextTimeout() const {
    return byDeadline_.empty() ? std::numeric_limits<double>::infinity()
                               : byDeadline_.begin()->first;
  }

  // Calls past their time: a stopped or hung application. Later calls to
  // it fail at once for a while instead of each waiting out its own time.
  void expireOverdue() {
    const double now = monotonicNow();
    std::vector<Key> overdue;
    for (auto it = byDeadline_.begin(); it != byDeadline_.end() && it->first <= now; ++it)
      overdue.push_back(it->second);
    for (const Key& key : overdue) {
      auto found = outstanding_.find(key);
      Outstanding& waiting = found->second;
      const bool running = !stopped(waiting.dest);
      if (waiting.giveUpAt > now && running) {
        // Busy, not stopped: a patient call waits on.
        waiting.deadline = std::min(waiting.giveUpAt, now + timeout_);
        byDeadline_.erase(waiting.slot);
        waiting.slot = byDeadline_.emplace(waiting.deadline, key);
        continue;
      }
      {
        std::lock_guard lock(shared_->mutex);
        shared_->expected.erase(key);
      }
      Outstanding entry = untrack(found);
      // A stopped application is given up on for a while; a busy one only
      // for as long as one call may take.
      hungUntil_[entry.dest] = now + (running ? timeout_ : 10.0);
      Reply timeout;
      timeout.status = Reply::Status::timeout;
      entry.done(std::move(timeout));
    }
  }

  // The accessibility bus went away (its launcher restarted, the session
  // ended): a long-running Tovrin joins the one announced now, at most once
  // a second, instead of failing every call from then on. Applications have
  // new names there; handles to the old ones fail as gone.
  void reconnect(double now) {
    if (now < nextReconnect_) return;
    nextReconnect_ = now + 1.0;
    std::string error;
    auto address = accessibilityBusAddress(error);
    if (!address) return;
    GDBusConnection* fresh = g_dbus_connection_new_for_address_sync(
        address->c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!fresh) return;
    // Calls still waiting on the old connection will never be answered.
    failCallsOn(bus_);
    {
      std::lock_guard lock(shared_->mutex);
      std::erase_if(shared_->expected, [&](const Key& key) { return key.first == bus_; });
    }
    unwatch(bus_);
    g_object_unref(bus_);
    bus_ = fresh;
    watch(bus_);
    hungUntil_.clear();
    // The applications' sockets belong to names of the old bus.
    for (auto& [dest, peer] : peers_)
      failCallsOn(peer.get());
    peers_.clear();
    ++busInstance_;
    if (std::getenv("TOVRIN_ATSPI_DEBUG")) fprintf(stderr, "atspi: joined %s\n", address->c_str());
  }

  // The application's own socket, when it offers one: no bus daemon between
  // us, which roughly halves the cost of each call. Asked for once; a
  // socket that closes is not opened again (the application is gone, or
  // its calls go through the bus from then on).
  PeerSocket* directPeer(const std::string& dest) {
    if (dest.empty() || dest[0] != ':') return nullptr;
    if (auto it = peers_.find(dest); it != peers_.end()) return it->second.get();
    std::unique_ptr<PeerSocket> peer;
    GError* raw = nullptr;
    GVariant* address = g_dbus_connection_call_sync(
        bus_, dest.c_str(), "/org/a11y/atspi/accessible/root", "org.a11y.atspi.Application",
        "GetApplicationBusAddress", nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
        static_cast<int>(timeout_ * 1000), nullptr, &raw);
    ErrorPtr error(raw);
    if (error && g_error_matches(raw, G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) {
      hungUntil_[dest] = monotonicNow() + 10.0;
    }
    if (address) {
      const gchar* text = nullptr;
      g_variant_get(address, "(&s)", &text);
      std::string connectError;
      if (text && *text) peer = PeerSocket::open(text, timeout_, connectError);
      if (std::getenv("TOVRIN_ATSPI_DEBUG") && !peer && !connectError.empty()) {
        fprintf(stderr, "atspi: %s: its socket: %s\n", dest.c_str(), connectError.c_str());
      }
      g_variant_unref(address);
    }
    PeerSocket* out = peer.get();
    peers_[dest] = std::move(peer);
    if (std::getenv("TOVRIN_ATSPI_DEBUG")) {
      fprintf(stderr, "atspi: %s: %s connection\n", dest.c_str(), out ? "direct" : "bus");
    }
    return out;
  }

  GDBusConnection* bus_;
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::unordered_map<GDBusConnection*, guint> filters_;
  std::unordered_map<Key, Outstanding, KeyHash> outstanding_;
  std::multimap<double, Key> byDeadline_;  // the same calls, soonest deadline first
  std::unordered_map<std::string, std::unique_ptr<PeerSocket>> peers_;  // null: none
  std::unordered_map<std::string, double> hungUntil_;
  double patience_ = 0;
  std::unordered_map<std::string, long> pids_;  // of the bus names asked about

  // Whether the application behind a bus name is stopped (SIGSTOP, a
  // debugger) or gone, as its process state says. Unknown counts as
  // stopped: only a process seen running is waited for.
  bool stopped(const std::string& dest) {
    const long pid = pidOf(dest);
    return pid <= 0 || processStopped(pid);
  }
  long pidOf(const std::string& dest) {
    auto it = pids_.find(dest);
    if (it == pids_.end()) {
      long pid = 0;
      GError* raw = nullptr;
      GVariant* reply = g_dbus_connection_call_sync(
          bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
          "GetConnectionUnixProcessID", g_variant_new("(s)", dest.c_str()), G_VARIANT_TYPE("(u)"),
          G_DBUS_CALL_FLAGS_NO_AUTO_START, 500, nullptr, &raw);
      ErrorPtr error(raw);
      if (reply) {
        guint32 value = 0;
        g_variant_get(reply, "(u)", &value);
        g_variant_unref(reply);
        pid = static_cast<long>(value);
      }
      it = pids_.emplace(dest, pid).first;
    }
    return it->second;
  }
  QueuedReplies queued_;
  double timeout_ = 2.0;
  double nextReconnect_ = 0;
  uint64_t busInstance_ = 0;
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
  void setPatience(double seconds) override { inner_->setPatience(seconds); }
  void idle(int wakeFd) override { inner_->idle(wakeFd); }
  [[nodiscard]] uint64_t busInstance() const override { return inner_->busInstance(); }

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

GDBusConnection* connectAccessibilityBus(std::string& error) {
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
  return bus;
}

std::unique_ptr<Transport> connectBus(std::string& error) {
  GDBusConnection* bus = connectAccessibilityBus(error);
  if (!bus) return nullptr;
  auto transport = std::make_unique<BusTransport>(bus);
  if (!transport->ready()) {
    error = "no event descriptor for the accessibility bus (too many open files?)";
    return nullptr;
  }
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
      reply.value = Variant::adopt(value);
    } else {
      error = path + ":" + std::to_string(number) + ": a reply is ok, error or timeout";
      return nullptr;
    }
    replies[key] = std::move(reply);
  }
  return std::make_unique<ReplayTransport>(std::move(replies));
}

}  // namespace tovrin::atspi
