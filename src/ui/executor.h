#pragma once

// Where the view models run their work. The application provides one: the
// interface thread for state changes, a command thread for blocking work
// (page reads, the model, synthetic input with its pauses). Tests use a
// manual executor that runs queued work when told to, so every interleaving
// is deterministic.

#include <deque>
#include <functional>
#include <mutex>

namespace tovrin {

class Executor {
 public:
  virtual ~Executor() = default;
  // Runs `work` later on the interface thread.
  virtual void onMain(std::function<void()> work) = 0;
  // Runs `work` on a command thread; it may block.
  virtual void inBackground(std::function<void()> work) = 0;
};

// Runs everything at once, on the calling thread: for a caller that is
// itself the only thread, such as the terminal palette.
class InlineExecutor final : public Executor {
 public:
  void onMain(std::function<void()> work) override { work(); }
  void inBackground(std::function<void()> work) override { work(); }
};

// Queues work until runAll() (or runOne()) is called.
class ManualExecutor final : public Executor {
 public:
  void onMain(std::function<void()> work) override { push(std::move(work)); }
  void inBackground(std::function<void()> work) override { push(std::move(work)); }

  // Runs the oldest queued work; false when there was none.
  bool runOne() {
    std::function<void()> work;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return false;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
    return true;
  }
  void runAll() {
    while (runOne()) {
    }
  }
  [[nodiscard]] std::size_t pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
  }

 private:
  void push(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
  }
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
};

}  // namespace tovrin
