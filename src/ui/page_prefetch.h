#pragma once

// Reads the front browser's page while the user types a command, so that
// Return finds the page already read. The read is used only while it still
// holds: same browser, no change heard since the read began, the window
// still showing the same page; otherwise the command reads the page itself.
// What was read lives only while the palette is open.
//
// Threads: begin() and end() on the interface thread; the read itself and
// take() on the command thread, which runs the application's work in order,
// so a command submitted after begin() finds the read finished.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "accessibility/browser.h"
#include "content/page_snapshot.h"
#include "ui/executor.h"

namespace tovrin {

class PagePrefetch : public std::enable_shared_from_this<PagePrefetch> {
 public:
  // Reads again after a change heard during the read, this many times at most.
  static constexpr int kMaxRereads = 8;

  static std::shared_ptr<PagePrefetch> make(std::shared_ptr<Executor> executor);

  // The palette opened over `target`: its page is read on the command thread.
  void begin(const BrowserTarget& target);
  // The palette closed: a read under way ends at its next element, and the
  // page read and the watch on the browser are let go.
  void end();
  // For a command about to read `target`'s page: the page as read ahead,
  // when the browser still shows it unchanged; else nothing. A read is
  // handed out once.
  std::shared_ptr<const PageSnapshot> take(const BrowserTarget& target);
  // Told, on the command thread, how each read ahead ended ("Read 412
  // elements, 96 text lines in 0.31s", or why nothing was kept) and why a
  // kept one was not handed to a command: for the application's trace.
  void onRead(std::function<void(const std::string&)> report) { report_ = std::move(report); }

 private:
  // The read's clock: the platform's, until end() moves it past every time
  // limit.
  class CutClock final : public Clock {
   public:
    explicit CutClock(std::shared_ptr<Clock> inner) : inner_(std::move(inner)) {}
    double now() override { return inner_->now() + (cut_ ? 1e9 : 0.0); }
    void sleep(double seconds) override { inner_->sleep(seconds); }
    void cut() { cut_ = true; }

   private:
    std::shared_ptr<Clock> inner_;
    std::atomic<bool> cut_{false};
  };

  explicit PagePrefetch(std::shared_ptr<Executor> executor) : executor_(std::move(executor)) {}
  void report(const std::string& line) const;
  void read(uint64_t generation, const BrowserTarget& target,
            const std::shared_ptr<CutClock>& clock);

  std::shared_ptr<Executor> executor_;
  std::function<void(const std::string&)> report_;
  std::mutex mutex_;
  uint64_t generation_ = 0;  // one per palette opening; a read of an older one is dropped
  std::optional<BrowserTarget> target_;
  std::shared_ptr<CutClock> clock_;
  std::shared_ptr<PageWatch> watch_;
  uint64_t changesAtRead_ = 0;  // what the watch had heard when the kept read began
  std::shared_ptr<const PageSnapshot> snap_;
};

}  // namespace tovrin
