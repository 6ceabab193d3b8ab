#include "platform/linux/atspi/peer_socket.h"

#include <gio/gio.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>

namespace tovrin::atspi {

namespace {

// D-Bus message types, the second byte of every message.
constexpr unsigned char kMethodReturn = 2;
constexpr unsigned char kError = 3;
// A message's fixed header; its length is known from it.
constexpr std::size_t kFixedHeader = 16;

bool waitFor(int fd, short events, double deadline) {
  for (;;) {
    const double left = deadline - monotonicNow();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::ceil(left * 1000)));
    if (n > 0) return (p.revents & events) != 0;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool sendAll(int fd, const std::string& text, double deadline) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitFor(fd, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

// One line of the authentication exchange, without its CR LF.
std::optional<std::string> readLine(int fd, double deadline) {
  std::string line;
  for (;;) {
    char c = 0;
    const ssize_t n = ::recv(fd, &c, 1, 0);
    if (n == 1) {
      line += c;
      if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        line.resize(line.size() - 2);
        return line;
      }
      if (line.size() > 4096) return std::nullopt;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitFor(fd, POLLIN, deadline)) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
}

std::string hex(const std::string& text) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::optional<std::pair<uint32_t, Reply>> replyFromBlob(unsigned char* blob, std::size_t size) {
  GError* error = nullptr;
  GDBusMessage* message =
      g_dbus_message_new_from_blob(blob, size, G_DBUS_CAPABILITY_FLAGS_NONE, &error);
  if (!message) {
    if (error) g_error_free(error);
    return std::nullopt;
  }
  Reply reply = replyOf(message);
  const uint32_t serial = g_dbus_message_get_reply_serial(message);
  g_object_unref(message);
  return std::pair{serial, std::move(reply)};
}

// Writes values at D-Bus's alignments, counted from the message's start.
class Wire {
 public:
  explicit Wire(std::string& out) : out_(out), start_(out.size()) {}
  void align(std::size_t n) {
    while ((out_.size() - start_) % n != 0)
      out_ += '\0';
  }
  void byte(uint8_t v) { out_ += static_cast<char>(v); }
  template <typename T>
  void number(T v) {
    align(sizeof v);
    out_.append(reinterpret_cast<const char*>(&v), sizeof v);  // little-endian machines only
  }
  void string(const char* text, std::size_t size) {
    number(static_cast<uint32_t>(size));
    out_.append(text, size);
    out_ += '\0';
  }
  void signature(const char* text, std::size_t size) {
    byte(static_cast<uint8_t>(size));
    out_.append(text, size);
    out_ += '\0';
  }
  // One basic value; false for a container or anything unknown.
  bool value(GVariant* v) {
    switch (g_variant_classify(v)) {
      case G_VARIANT_CLASS_BOOLEAN:
        number<uint32_t>(g_variant_get_boolean(v) ? 1 : 0);
        return true;
      case G_VARIANT_CLASS_BYTE:
        byte(g_variant_get_byte(v));
        return true;
      case G_VARIANT_CLASS_INT16:
        number(g_variant_get_int16(v));
        return true;
      case G_VARIANT_CLASS_UINT16:
        number(g_variant_get_uint16(v));
        return true;
      case G_VARIANT_CLASS_INT32:
        number(g_variant_get_int32(v));
        return true;
      case G_VARIANT_CLASS_UINT32:
        number(g_variant_get_uint32(v));
        return true;
      case G_VARIANT_CLASS_INT64:
        number(g_variant_get_int64(v));
        return true;
      case G_VARIANT_CLASS_UINT64:
        number(g_variant_get_uint64(v));
        return true;
      case G_VARIANT_CLASS_DOUBLE:
        number(g_variant_get_double(v));
        return true;
      case G_VARIANT_CLASS_STRING:
      case G_VARIANT_CLASS_OBJECT_PATH: {
        gsize size = 0;
        const gchar* text = g_variant_get_string(v, &size);
        string(text, size);
        return true;
      }
      case G_VARIANT_CLASS_SIGNATURE: {
        gsize size = 0;
        const gchar* text = g_variant_get_string(v, &size);
        signature(text, size);
        return true;
      }
      default:
        return false;
    }
  }
  // A header field: its code, then a variant of one basic type.
  void field(uint8_t code, char type, const std::string& text) {
    align(8);
    byte(code);
    signature(&type, 1);
    if (type == 'g') {
      signature(text.data(), text.size());
    } else {
      string(text.data(), text.size());
    }
  }
  [[nodiscard]] std::size_t size() const { return out_.size() - start_; }
  void patch(std::size_t at, uint32_t v) { std::memcpy(out_.data() + start_ + at, &v, sizeof v); }

 private:
  std::string& out_;
  std::size_t start_;
};

}  // namespace

bool appendMethodCall(std::string& out, const Call& call, uint32_t serial) {
  static_assert(std::endian::native == std::endian::little, "the wire is written little-endian");
  const std::size_t mark = out.size();
  GVariant* args = call.args.get();
  const char* signature = "";
  std::size_t signatureSize = 0;
  if (args) {
    if (!g_variant_is_of_type(args, G_VARIANT_TYPE_TUPLE)) return false;
    const gchar* type = g_variant_get_type_string(args);  // "(…)"
    signature = type + 1;
    signatureSize = std::strlen(type) - 2;
  }
  // Header fields ahead of the body, then the body, 8-aligned.
  Wire wire(out);
  wire.byte('l');
  wire.byte(1);              // a method call
  wire.byte(0);              // no flags
  wire.byte(1);              // protocol version
  wire.number<uint32_t>(0);  // the body's length, once known
  wire.number<uint32_t>(serial);
  wire.number<uint32_t>(0);                 // the fields' length, once known
  constexpr std::size_t kFieldsStart = 16;  // already 8-aligned
  wire.field(1, 'o', call.path);
  wire.field(2, 's', call.interface);
  wire.field(3, 's', call.method);
  if (args) wire.field(8, 'g', std::string(signature, signatureSize));
  wire.patch(12, static_cast<uint32_t>(wire.size() - kFieldsStart));
  wire.align(8);
  const std::size_t bodyStart = wire.size();
  const gsize count = args ? g_variant_n_children(args) : 0;
  for (gsize i = 0; i < count; ++i) {
    GVariant* child = g_variant_get_child_value(args, i);
    const bool written = wire.value(child);
    g_variant_unref(child);
    if (!written) {
      out.resize(mark);
      return false;
    }
  }
  wire.patch(4, static_cast<uint32_t>(wire.size() - bodyStart));
  return true;
}

std::unique_ptr<PeerSocket> PeerSocket::open(const std::string& address, double timeout,
                                             std::string& error) {
  const double deadline = monotonicNow() + timeout;
  GError* raw = nullptr;
  GIOStream* stream = g_dbus_address_get_stream_sync(address.c_str(), nullptr, nullptr, &raw);
  if (!stream) {
    error = raw && raw->message ? raw->message : "cannot connect";
    if (raw) g_error_free(raw);
    return nullptr;
  }
  if (!G_IS_SOCKET_CONNECTION(stream)) {
    error = "not a socket";
    g_object_unref(stream);
    return nullptr;
  }
  GSocket* socket = g_socket_connection_get_socket(G_SOCKET_CONNECTION(stream));
  g_socket_set_blocking(socket, FALSE);
  std::unique_ptr<PeerSocket> peer(new PeerSocket(stream, g_socket_get_fd(socket)));
  // The peer knows who we are from the socket's credentials; EXTERNAL
  // only names the same user.
  const std::string hello =
      std::string(1, '\0') + "AUTH EXTERNAL " + hex(std::to_string(::getuid())) + "\r\n";
  if (!sendAll(peer->fd_, hello, deadline)) {
    error = "the application did not take the authentication";
    return nullptr;
  }
  auto answer = readLine(peer->fd_, deadline);
  if (!answer || answer->rfind("OK ", 0) != 0) {
    error = answer ? "the application refused us: " + *answer
                   : "the application did not answer the authentication";
    return nullptr;
  }
  if (!sendAll(peer->fd_, "BEGIN\r\n", deadline)) {
    error = "the application hung up after authentication";
    return nullptr;
  }
  return peer;
}

PeerSocket::~PeerSocket() {
  close("");
}

void PeerSocket::close(const char* why) {
  if (!closed() && why_.empty()) why_ = why;
  if (stream_) g_object_unref(static_cast<GIOStream*>(stream_));  // closes the descriptor
  stream_ = nullptr;
  fd_ = -1;
  out_.clear();
  written_ = 0;
  in_.clear();
}

uint32_t PeerSocket::queue(const Call& call) {
  if (closed()) return 0;
  // Serials wrap past 2^32 - 1 without reaching 0, which means "none".
  if (++serial_ == 0) serial_ = 1;
  // What was written already goes, so the buffer does not grow for ever.
  if (written_ == out_.size()) {
    out_.clear();
    written_ = 0;
  }
  if (appendMethodCall(out_, call, serial_)) return serial_;
  // Arguments of other types: GLib's own writer.
  GDBusMessage* message = g_dbus_message_new_method_call(
      nullptr, call.path.c_str(), call.interface.c_str(), call.method.c_str());
  if (call.args) g_dbus_message_set_body(message, call.args.get());
  g_dbus_message_set_serial(message, serial_);
  gsize size = 0;
  GError* error = nullptr;
  guchar* blob = g_dbus_message_to_blob(message, &size, G_DBUS_CAPABILITY_FLAGS_NONE, &error);
  g_object_unref(message);
  if (!blob) {
    if (error) g_error_free(error);
    return 0;
  }
  out_.append(reinterpret_cast<const char*>(blob), size);
  g_free(blob);
  return serial_;
}

bool PeerSocket::flush() {
  while (!closed() && written_ < out_.size()) {
    const ssize_t n =
        ::send(fd_, out_.data() + written_, out_.size() - written_, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      written_ += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else {
      close("a write to it failed");
    }
  }
  if (written_ == out_.size()) {
    out_.clear();
    written_ = 0;
  }
  return !closed();
}

bool PeerSocket::receive(std::vector<std::pair<uint32_t, Reply>>& replies) {
  if (closed()) return false;
  const char* why = nullptr;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      in_.append(buffer, static_cast<std::size_t>(n));
      if (static_cast<std::size_t>(n) < sizeof buffer) break;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      why = "the application hung up";  // end of stream, or the connection broke
      break;
    }
  }
  std::size_t at = 0;
  while (in_.size() - at >= kFixedHeader) {
    auto* message = reinterpret_cast<unsigned char*>(in_.data() + at);
    GError* error = nullptr;
    const gssize needed = g_dbus_message_bytes_needed(message, kFixedHeader, &error);
    if (needed < static_cast<gssize>(kFixedHeader)) {
      if (error) g_error_free(error);
      why = "it carried something that is not D-Bus";  // nothing after it can be trusted
      break;
    }
    if (in_.size() - at < static_cast<std::size_t>(needed)) break;
    const unsigned char type = message[1];
    if (type == kMethodReturn || type == kError) {
      auto reply = replyFromBlob(message, static_cast<std::size_t>(needed));
      if (!reply) {
        why = "a reply on it could not be read";
        break;
      }
      replies.push_back(std::move(*reply));
    }
    at += static_cast<std::size_t>(needed);
  }
  in_.erase(0, at);
  if (why) close(why);
  return why == nullptr;
}

}  // namespace tovrin::atspi
