#pragma once

// An application's own accessibility socket (the address it gives through
// GetApplicationBusAddress), spoken to directly on the transport's thread.
//
// A page read sends tens of thousands of small calls. Through GDBus each
// one crosses to its I/O thread and back, with a wake-up, two reads and a
// lock on each side; that cost the client more CPU than the browser spent
// answering. Here calls queue in one buffer written with one send, and
// replies are read many to a recv and parsed where they are used. Calls
// with plain arguments are written here; GLib writes the others and reads
// every reply (GDBusMessage to and from blobs).
//
// Not thread-safe: one thread opens, writes, reads and closes it.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/atspi/atspi_transport.h"

namespace tovrin::atspi {

class PeerSocket {
 public:
  // Connects and authenticates (EXTERNAL, as the process's user) within
  // `timeout` seconds. Null, with `error` set, when that fails.
  static std::unique_ptr<PeerSocket> open(const std::string& address, double timeout,
                                          std::string& error);
  ~PeerSocket();
  PeerSocket(const PeerSocket&) = delete;
  PeerSocket& operator=(const PeerSocket&) = delete;

  // For poll().
  [[nodiscard]] int fd() const { return fd_; }
  [[nodiscard]] bool closed() const { return fd_ < 0; }
  // Queues a method call (its destination is ignored: the peer is the
  // application) and gives its serial; 0 when the socket is closed or the
  // call cannot be encoded.
  uint32_t queue(const Call& call);
  // Writes what is queued as far as the socket takes it without waiting.
  // False when the socket is closed (then or before).
  bool flush();
  [[nodiscard]] bool wantsWrite() const { return !closed() && written_ < out_.size(); }
  // Reads what has arrived without waiting and appends each reply with the
  // serial it answers. Signals and anything else unasked are skipped
  // unparsed. False when the peer hung up or broke the protocol: the
  // socket is closed then, and calls still unanswered never will be.
  bool receive(std::vector<std::pair<uint32_t, Reply>>& replies);
  // Why the socket closed, in words for a log line; empty while it is open.
  [[nodiscard]] const std::string& closedBecause() const { return why_; }

 private:
  explicit PeerSocket(void* stream, int fd) : stream_(stream), fd_(fd) {}
  void close(const char* why);

  void* stream_;  // the GIOStream that owns the descriptor
  int fd_;
  uint32_t serial_ = 0;
  std::string out_;
  std::size_t written_ = 0;
  std::string in_;
  std::string why_;
};

// Appends a method call to `out` in D-Bus's wire format (little-endian,
// no flags), as GLib would write it, without building a message object:
// a page read writes tens of thousands. Only arguments of basic types are
// written here; false, with `out` unchanged, for anything else.
bool appendMethodCall(std::string& out, const Call& call, uint32_t serial);

}  // namespace tovrin::atspi
