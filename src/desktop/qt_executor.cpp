#include "desktop/qt_executor.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace tovrin::desktop {

QtExecutor::QtExecutor() : thread_([this] { run(); }) {}

QtExecutor::~QtExecutor() {
  stop();
}

void QtExecutor::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void QtExecutor::onMain(std::function<void()> work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;  // shutting down: nobody left to show it
  QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

void QtExecutor::inBackground(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    queue_.push_back(std::move(work));
  }
  wake_.notify_one();
}

void QtExecutor::run() {
  for (;;) {
    std::function<void()> work;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;  // quitting drops commands not started yet
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
  }
}

}  // namespace tovrin::desktop
