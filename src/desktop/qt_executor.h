#pragma once

// The desktop application's Executor: state changes on the Qt interface
// thread, blocking work (page reads, presses, typing with its pauses) on
// one command thread of its own, in order.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "ui/executor.h"

namespace tovrin::desktop {

class QtExecutor final : public Executor {
 public:
  QtExecutor();
  ~QtExecutor() override;
  QtExecutor(const QtExecutor&) = delete;
  QtExecutor& operator=(const QtExecutor&) = delete;

  // Lets the work under way finish, drops the rest and ends the command
  // thread. The application calls it before it exits: work still running
  // then would outlive what it uses.
  void stop();

  void onMain(std::function<void()> work) override;
  void inBackground(std::function<void()> work) override;

 private:
  void run();
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tovrin::desktop
