// An application's own accessibility socket, spoken to without GDBus's
// I/O thread: against an in-process GDBus server that answers as a
// browser's bridge does, and against one that breaks the protocol.

#include "platform/linux/atspi/peer_socket.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <future>
#include <map>
#include <thread>

namespace tovrin::atspi {
namespace {

// A peer-to-peer D-Bus server on a thread of its own. Methods: Echo (the
// arguments back), Fail (an error), Chatter (ten signals, then the reply),
// GetLater (never answered) and Hang (closes the connection unanswered).
// Given a bus, it is also on that bus, as a browser is on the accessibility
// bus: there it gives the server's address through
// GetApplicationBusAddress, and answers any other method with "through the
// bus".
class FakeApplication {
 public:
  explicit FakeApplication(std::string bus = {}) : busAddress_(std::move(bus)) {
    std::promise<std::string> started;
    auto address = started.get_future();
    thread_ = std::thread([this, &started] { run(started); });
    address_ = address.get();
  }
  ~FakeApplication() {
    stopping_ = true;
    g_main_context_wakeup(context_);
    thread_.join();
  }
  const std::string& address() const { return address_; }
  // Its name on the bus.
  const std::string& name() const { return name_; }

 private:
  static GDBusMessage* answerOnBus(GDBusConnection* connection, GDBusMessage* message,
                                   gboolean incoming, gpointer self) {
    if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
      return message;
    }
    GDBusMessage* reply = g_dbus_message_new_method_reply(message);
    const std::string method = g_dbus_message_get_member(message);
    g_dbus_message_set_body(
        reply, g_variant_new("(s)", method == "GetApplicationBusAddress"
                                        ? static_cast<FakeApplication*>(self)->address_.c_str()
                                        : "through the bus"));
    g_dbus_connection_send_message(connection, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                   nullptr);
    g_object_unref(reply);
    g_object_unref(message);
    return nullptr;
  }

  static GDBusMessage* answer(GDBusConnection* connection, GDBusMessage* message, gboolean incoming,
                              gpointer) {
    if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
      return message;
    }
    const std::string method = g_dbus_message_get_member(message);
    GDBusMessage* reply = nullptr;
    if (method == "Echo") {
      reply = g_dbus_message_new_method_reply(message);
      if (GVariant* body = g_dbus_message_get_body(message)) g_dbus_message_set_body(reply, body);
    } else if (method == "Chatter") {
      for (int i = 0; i < 10; ++i) {
        GDBusMessage* signal = g_dbus_message_new_signal(
            "/org/a11y/atspi/accessible/root", "org.a11y.atspi.Event.Object", "ChildrenChanged");
        g_dbus_message_set_body(
            signal, g_variant_new("(siiva{sv})", "add", i, 0, g_variant_new_string("x"), nullptr));
        g_dbus_connection_send_message(connection, signal, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                       nullptr);
        g_object_unref(signal);
      }
      reply = g_dbus_message_new_method_reply(message);
      g_dbus_message_set_body(reply, g_variant_new("(s)", "after the chatter"));
    } else if (method == "Hang") {
      g_dbus_connection_close(connection, nullptr, nullptr, nullptr);
    } else if (method == "GetLater") {
      // Left unanswered, as a busy browser leaves a question for a while.
    } else {
      reply = g_dbus_message_new_method_error(message, "org.freedesktop.DBus.Error.UnknownObject",
                                              "no such object");
    }
    if (reply) {
      g_dbus_connection_send_message(connection, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                     nullptr);
      g_object_unref(reply);
    }
    g_object_unref(message);
    return nullptr;
  }

  static gboolean accept(GDBusServer*, GDBusConnection* connection, gpointer self) {
    g_dbus_connection_add_filter(connection, &FakeApplication::answer, nullptr, nullptr);
    static_cast<FakeApplication*>(self)->connections_.push_back(
        G_DBUS_CONNECTION(g_object_ref(connection)));
    return TRUE;
  }

  void run(std::promise<std::string>& started) {
    g_main_context_push_thread_default(context_);
    gchar* guid = g_dbus_generate_guid();
    GDBusServer* server = g_dbus_server_new_sync("unix:tmpdir=/tmp", G_DBUS_SERVER_FLAGS_NONE, guid,
                                                 nullptr, nullptr, nullptr);
    g_free(guid);
    g_signal_connect(server, "new-connection", G_CALLBACK(&FakeApplication::accept), this);
    g_dbus_server_start(server);
    address_ = g_dbus_server_get_client_address(server);
    GDBusConnection* bus = nullptr;
    if (!busAddress_.empty()) {
      bus = g_dbus_connection_new_for_address_sync(
          busAddress_.c_str(),
          static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                            G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
          nullptr, nullptr, nullptr);
      if (bus) {
        name_ = g_dbus_connection_get_unique_name(bus);
        g_dbus_connection_add_filter(bus, &FakeApplication::answerOnBus, this, nullptr);
      }
    }
    started.set_value(address_);
    while (!stopping_)
      g_main_context_iteration(context_, TRUE);
    g_dbus_server_stop(server);
    for (GDBusConnection* c : connections_) {
      g_dbus_connection_close_sync(c, nullptr, nullptr);
      g_object_unref(c);
    }
    g_object_unref(server);
    if (bus) {
      g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }

  GMainContext* context_ = g_main_context_new();
  std::atomic<bool> stopping_ = false;
  std::vector<GDBusConnection*> connections_;
  std::thread thread_;
  std::string busAddress_, address_, name_;
};

// GLib's locks are futexes it takes in code ThreadSanitizer does not see:
// a GDBus server on a thread of the test is reported racing with itself.
#if defined(__SANITIZE_THREAD__)
#define SKIP_UNDER_THREAD_SANITIZER() GTEST_SKIP() << "GDBus's own threads"
#else
#define SKIP_UNDER_THREAD_SANITIZER() (void)0
#endif

Call call(const char* method, GVariant* args = nullptr) {
  return Call{"", "/org/a11y/atspi/accessible/1", "org.a11y.atspi.Accessible", method,
              args ? Variant::take(args) : Variant()};
}

// Flushes and reads until `count` replies are in or the socket closes.
std::map<uint32_t, Reply> await(PeerSocket& peer, std::size_t count) {
  std::map<uint32_t, Reply> got;
  const double deadline = monotonicNow() + 10;
  while (got.size() < count && !peer.closed() && monotonicNow() < deadline) {
    peer.flush();
    pollfd p{peer.fd(), static_cast<short>(POLLIN | (peer.wantsWrite() ? POLLOUT : 0)), 0};
    ::poll(&p, 1, 20);
    std::vector<std::pair<uint32_t, Reply>> replies;
    peer.receive(replies);
    for (auto& [serial, reply] : replies)
      got.emplace(serial, std::move(reply));
  }
  return got;
}

std::string text(const Reply& reply) {
  if (!reply.ok()) return "error " + reply.error;
  gchar* printed = g_variant_print(reply.value.get(), FALSE);
  std::string out = printed;
  g_free(printed);
  return out;
}

TEST(PeerSocketTest, RepliesFindTheirCallsWhateverCameBetween) {
  SKIP_UNDER_THREAD_SANITIZER();
  FakeApplication app;
  std::string error;
  auto peer = PeerSocket::open(app.address(), 2.0, error);
  ASSERT_TRUE(peer) << error;
  struct Case {
    Call call;
    std::string reply;
  };
  const Case cases[] = {
      {call("Echo", g_variant_new("(s)", "Zoë ⟶ 日本")), "('Zoë ⟶ 日本',)"},
      {call("Echo", g_variant_new("(ii)", -1, 7)), "(-1, 7)"},
      {call("Echo"), "()"},
      {call("Chatter"), "('after the chatter',)"},  // signals first, skipped
      {call("Missing"), "error org.freedesktop.DBus.Error.UnknownObject"},
  };
  std::map<uint32_t, std::string> expected;
  for (const Case& c : cases) {
    const uint32_t serial = peer->queue(c.call);
    ASSERT_NE(serial, 0u);
    expected[serial] = c.reply;
  }
  // A page read's worth queued before one flush: more than the socket takes at once.
  for (int i = 0; i < 3000; ++i) {
    const std::string word = std::string(200, 'a' + i % 26);
    expected[peer->queue(call("Echo", g_variant_new("(si)", word.c_str(), i)))] =
        "('" + word + "', " + std::to_string(i) + ")";
  }
  EXPECT_TRUE(peer->wantsWrite());
  auto got = await(*peer, expected.size());
  ASSERT_EQ(got.size(), expected.size());
  for (const auto& [serial, reply] : expected)
    EXPECT_EQ(text(got.at(serial)), reply) << "serial " << serial;
  EXPECT_FALSE(peer->closed());
}

TEST(PeerSocketTest, AnApplicationThatHangsUpClosesTheSocketAndAnswersNothingMore) {
  SKIP_UNDER_THREAD_SANITIZER();
  FakeApplication app;
  std::string error;
  auto peer = PeerSocket::open(app.address(), 2.0, error);
  ASSERT_TRUE(peer) << error;
  peer->queue(call("Hang"));
  auto got = await(*peer, 1);  // waits for the close
  EXPECT_TRUE(peer->closed());
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(peer->queue(call("Echo")), 0u);
  EXPECT_FALSE(peer->flush());
}

// An application that breaks off its socket while it still runs: the
// questions it left unanswered are asked again through the bus, and nothing
// is lost. (Failing them dropped every element a page read had in flight:
// a page cut short, read as whole.) What acts is not sent twice.
TEST(PeerSocketTest, QuestionsLeftOnASocketThatClosesGoThroughTheBus) {
  SKIP_UNDER_THREAD_SANITIZER();
  GTestDBus* bus = g_test_dbus_new(G_TEST_DBUS_NONE);
  g_test_dbus_up(bus);
  const std::string busAddress = g_test_dbus_get_bus_address(bus);
  {
    FakeApplication app(busAddress);
    ASSERT_FALSE(app.name().empty());
    const char* before = std::getenv("AT_SPI_BUS_ADDRESS");
    const std::string kept = before ? before : "";
    ::setenv("AT_SPI_BUS_ADDRESS", busAddress.c_str(), 1);
    std::string error;
    auto transport = connectBus(error);
    before ? ::setenv("AT_SPI_BUS_ADDRESS", kept.c_str(), 1) : ::unsetenv("AT_SPI_BUS_ADDRESS");
    ASSERT_TRUE(transport) << error;
    std::map<int, std::string> got;
    auto ask = [&](int n, Call c) {
      c.dest = app.name();
      transport->send(std::move(c), [&got, n](Reply r) { got[n] = text(r); });
    };
    // Answered on the socket; then questions it holds, and the hang-up.
    ask(0, call("Echo", g_variant_new("(s)", "on the socket")));
    EXPECT_TRUE(transport->wait([&] { return got.size() == 1; }, monotonicNow() + 10));
    EXPECT_EQ(got[0], "('on the socket',)");
    for (int n = 1; n < 5; ++n)
      ask(n, call("GetLater"));
    ask(5, call("Hang"));
    EXPECT_TRUE(transport->wait([&] { return got.size() == 6; }, monotonicNow() + 10));
    for (int n = 1; n < 5; ++n)
      EXPECT_EQ(got[n], "('through the bus',)") << "question " << n;
    EXPECT_EQ(got[5], "error org.freedesktop.DBus.Error.Disconnected");
    // And later calls take the bus too.
    ask(6, call("Echo", g_variant_new("(s)", "later")));
    EXPECT_TRUE(transport->wait([&] { return got.size() == 7; }, monotonicNow() + 10));
    EXPECT_EQ(got[6], "('through the bus',)");
  }
  g_test_dbus_down(bus);
  g_object_unref(bus);
}

// A socket that accepts the authentication and then says `after`.
class RawApplication {
 public:
  explicit RawApplication(std::string greeting, std::string after)
      : greeting_(std::move(greeting)), after_(std::move(after)) {
    path_ = "/tmp/tovrin-peer-" + std::to_string(::getpid()) + "-" + std::to_string(++count_);
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path_.c_str(), sizeof addr.sun_path - 1);
    ::unlink(path_.c_str());
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::listen(listener_, 1);
    thread_ = std::thread([this] {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      char buffer[256];
      ::recv(fd, buffer, sizeof buffer, 0);  // the NUL and AUTH line
      ::send(fd, greeting_.data(), greeting_.size(), MSG_NOSIGNAL);
      ::recv(fd, buffer, sizeof buffer, 0);  // BEGIN, or nothing
      ::send(fd, after_.data(), after_.size(), MSG_NOSIGNAL);
      ::shutdown(fd, SHUT_WR);               // and nothing more
      ::recv(fd, buffer, sizeof buffer, 0);  // until the client closes
      ::close(fd);
    });
  }
  ~RawApplication() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
    ::unlink(path_.c_str());
  }
  std::string address() const { return "unix:path=" + path_; }

 private:
  static inline int count_ = 0;
  std::string greeting_, after_, path_;
  int listener_ = -1;
  std::thread thread_;
};

// A reply to the first call, as an application's bridge writes it.
std::string replyBlob(const char* word) {
  GDBusMessage* asked =
      g_dbus_message_new_method_call(nullptr, "/", "org.a11y.atspi.Text", "GetText");
  g_dbus_message_set_serial(asked, 1);
  GDBusMessage* reply = g_dbus_message_new_method_reply(asked);
  g_dbus_message_set_body(reply, g_variant_new("(s)", word));
  g_dbus_message_set_serial(reply, 9);
  gsize size = 0;
  guchar* blob = g_dbus_message_to_blob(reply, &size, G_DBUS_CAPABILITY_FLAGS_NONE, nullptr);
  std::string out(reinterpret_cast<const char*>(blob), size);
  g_free(blob);
  g_object_unref(reply);
  g_object_unref(asked);
  return out;
}

TEST(PeerSocketTest, WhatIsNotDBusIsRefusedWithoutHarm) {
  const std::string ok = "OK 0123456789abcdef0123456789abcdef\r\n";
  // A fixed header claiming a message longer than D-Bus allows.
  std::string huge = std::string("l\2\0\1", 4) + std::string("\xff\xff\xff\x7f", 4) +
                     std::string("\1\0\0\0", 4) + std::string("\xff\xff\xff\x7f", 4);
  struct Case {
    const char* name;
    std::string greeting, after;
    bool opens;
    std::size_t replies;  // read before the socket closes
  } cases[] = {
      {"refused", "REJECTED EXTERNAL\r\n", "", false, 0},
      {"silent then gone", "", "", false, 0},
      {"noise after BEGIN", ok, std::string(64, '\x5a'), true, 0},
      {"a header past every limit", ok, huge, true, 0},
      {"a reply, then noise", ok, replyBlob("kept") + std::string(20, '\x5a'), true, 1},
      {"a reply, then the end", ok, replyBlob("kept"), true, 1},
  };
  for (const Case& c : cases) {
    RawApplication app(c.greeting, c.after);
    std::string error;
    auto peer = PeerSocket::open(app.address(), 1.0, error);
    ASSERT_EQ(peer != nullptr, c.opens) << c.name << ": " << error;
    if (!peer) {
      EXPECT_FALSE(error.empty()) << c.name;
      continue;
    }
    peer->queue(call("Echo"));
    auto got = await(*peer, 2);  // waits for the close
    EXPECT_TRUE(peer->closed()) << c.name;
    ASSERT_EQ(got.size(), c.replies) << c.name;
    if (c.replies == 1) {
      EXPECT_EQ(text(got.at(1)), "('kept',)") << c.name;
    }
  }
}

}  // namespace
}  // namespace tovrin::atspi

namespace tovrin::atspi {
namespace {

// What a message blob says, as GLib reads it back; empty when it cannot.
std::string readBack(const std::string& blob) {
  GDBusMessage* message =
      g_dbus_message_new_from_blob(reinterpret_cast<guchar*>(const_cast<char*>(blob.data())),
                                   blob.size(), G_DBUS_CAPABILITY_FLAGS_NONE, nullptr);
  if (!message) return "";
  gchar* printed = g_dbus_message_print(message, 0);
  std::string out = printed;
  g_free(printed);
  g_object_unref(message);
  return out;
}

// The calls a page read sends, written so that GLib reads back what it
// would have written itself (the header fields' order is free).
TEST(PeerSocketTest, CallsAreWrittenAsGLibWritesThem) {
  const Call calls[] = {
      call("GetRole"),
      call("GetChildAtIndex", g_variant_new("(i)", 3)),
      call("GetText", g_variant_new("(ii)", 0, -1)),
      call("GetExtents", g_variant_new("(u)", 0u)),
      call("Get", g_variant_new("(ss)", "org.a11y.atspi.Accessible", "Name")),
      call("Mixed", g_variant_new("(ybnqxtdogs)", 7, TRUE, -2, 3, G_GINT64_CONSTANT(-5),
                                  G_GUINT64_CONSTANT(6), 0.5, "/a/b", "sis", "Zoë\u00a0⟶")),
      call("Empty", g_variant_new("()")),
      call("Odd", g_variant_new("(ys)", 1, "")),
      Call{"", "/", "org.i", "m", {}},
  };
  uint32_t serial = 1;
  for (const Call& c : calls) {
    GDBusMessage* message = g_dbus_message_new_method_call(nullptr, c.path.c_str(),
                                                           c.interface.c_str(), c.method.c_str());
    if (c.args) g_dbus_message_set_body(message, c.args.get());
    g_dbus_message_set_serial(message, serial);
    gsize size = 0;
    guchar* blob = g_dbus_message_to_blob(message, &size, G_DBUS_CAPABILITY_FLAGS_NONE, nullptr);
    const std::string theirs(reinterpret_cast<const char*>(blob), size);
    g_free(blob);
    g_object_unref(message);
    std::string ours = "kept";
    ASSERT_TRUE(appendMethodCall(ours, c, serial)) << c.method;
    EXPECT_EQ(ours.substr(0, 4), "kept");
    EXPECT_EQ(ours.size() - 4, theirs.size()) << c.method;
    const std::string read = readBack(ours.substr(4));
    EXPECT_FALSE(read.empty()) << c.method;
    EXPECT_EQ(read, readBack(theirs)) << c.method;
    ++serial;
  }
  // Containers are left to GLib.
  std::string out = "kept";
  EXPECT_FALSE(appendMethodCall(out, call("Array", g_variant_new_parsed("(['a', 'b'],)")), 1));
  EXPECT_FALSE(
      appendMethodCall(out, call("Variant", g_variant_new("(v)", g_variant_new_int32(1))), 1));
  EXPECT_EQ(out, "kept");
}

}  // namespace
}  // namespace tovrin::atspi
