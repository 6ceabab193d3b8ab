#pragma once

// D-Bus traffic to the accessibility bus, as the AT-SPI backend needs it:
// asynchronous calls whose replies arrive on one thread, so many requests can
// be in flight at once. Three implementations share the interface: the live
// bus (GDBus, with direct peer-to-peer connections to applications that offer
// one), a recorder that writes every call and reply to a file, and a replay
// that answers from such a file without any bus, so the mapping of real
// browsers' trees is tested offline.

#include <gio/gio.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tovrin::atspi {

// An owned GVariant reference.
class Variant {
 public:
  Variant() = default;
  // Takes a reference: sinks a floating one, else adds one.
  static Variant take(GVariant* v) {
    Variant out;
    out.v_ = v ? g_variant_ref_sink(v) : nullptr;
    return out;
  }
  // Owns the reference given (a full one, or a floating one it sinks).
  static Variant adopt(GVariant* v) {
    Variant out;
    out.v_ = v ? g_variant_take_ref(v) : nullptr;
    return out;
  }
  Variant(const Variant& o) : v_(o.v_ ? g_variant_ref(o.v_) : nullptr) {}
  Variant(Variant&& o) noexcept : v_(o.v_) { o.v_ = nullptr; }
  Variant& operator=(Variant o) noexcept {
    std::swap(v_, o.v_);
    return *this;
  }
  ~Variant() {
    if (v_) g_variant_unref(v_);
  }
  [[nodiscard]] GVariant* get() const { return v_; }
  explicit operator bool() const { return v_ != nullptr; }

 private:
  GVariant* v_ = nullptr;
};

struct Reply {
  enum class Status { ok, error, timeout };
  Status status = Status::error;
  Variant value;      // the reply's tuple when ok
  std::string error;  // D-Bus error name when status is error
  [[nodiscard]] bool ok() const { return status == Status::ok; }
  // The object no longer exists (the page changed under us).
  [[nodiscard]] bool gone() const;
};

// What a method return or error message says (the message stays the caller's).
Reply replyOf(GDBusMessage* message);

struct Call {
  std::string dest;  // bus name of the application (or a service)
  std::string path;
  std::string interface;
  std::string method;
  Variant args;  // a tuple, or empty for none
};

using ReplyHandler = std::function<void(Reply)>;

// Used from one thread only: the one that made it, which also runs wait().
class Transport {
 public:
  virtual ~Transport() = default;
  // Sends the call; `done` runs later, inside wait(), exactly once.
  virtual void send(const Call& call, ReplyHandler done) = 0;
  // Delivers replies until `finished()` holds or `deadline` (monotonic
  // seconds) passes; true when finished.
  virtual bool wait(const std::function<bool()>& finished, double deadline) = 0;
  // How long one call may take before it counts as unanswered.
  virtual void setCallTimeout(double seconds) = 0;
  // How long calls sent from now on may wait, in all, for an application
  // that is running but busy (0: no longer than the call timeout). A page
  // read is patient with a browser laying out a heavy page; a stopped
  // application still fails each call after the call timeout.
  virtual void setPatience(double /*seconds*/) {}
  // Returns once `wakeFd` is readable (and read), having kept the
  // transport's connections drained meanwhile: what the thread does
  // between tasks. Replies that arrive here are delivered by the next wait().
  virtual void idle(int wakeFd);
  // Which bus the calls go to: it changes when the bus was restarted and
  // joined again, and every unique name of the old one means nothing then.
  [[nodiscard]] virtual uint64_t busInstance() const { return 0; }
};

double monotonicNow();

// Whether a process is stopped (a signal, a debugger) or gone: an
// application that cannot answer, as opposed to one that is busy.
bool processStopped(long pid);
// Whether a process has ended (a zombie, or no longer there).
bool processGone(long pid);

// The live accessibility bus. Null, with `error` set, when it cannot be
// reached. Must be created on the thread that will use it.
std::unique_ptr<Transport> connectBus(std::string& error);

// A connection of its own to the accessibility bus (the caller unrefs it),
// or null with `error` set.
GDBusConnection* connectAccessibilityBus(std::string& error);

// The address of the accessibility bus of this session (from the session
// bus, the AT_SPI_BUS_ADDRESS variable or the X root window), or nothing.
std::optional<std::string> accessibilityBusAddress(std::string& error);

// Writes every call and its reply to `path` (one line each) while passing
// them through to `inner`.
std::unique_ptr<Transport> recordTo(std::unique_ptr<Transport> inner, const std::string& path);

// Answers from a recording; calls it does not hold fail as an unknown method.
// Null, with `error` set, when the file cannot be read.
std::unique_ptr<Transport> replayFrom(const std::string& path, std::string& error);

// The key a recording files a call under.
std::string callKey(const Call& call);

}  // namespace tovrin::atspi
