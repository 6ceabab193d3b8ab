#include "ui/page_prefetch.h"

#include "accessibility/ax.h"

namespace tovrin {

std::shared_ptr<PagePrefetch> PagePrefetch::make(std::shared_ptr<Executor> executor) {
  return std::shared_ptr<PagePrefetch>(new PagePrefetch(std::move(executor)));
}

void PagePrefetch::begin(const BrowserTarget& target) {
  end();
  if (!target.platform.clock || !target.platform.accessibility) return;
  auto clock = std::make_shared<CutClock>(target.platform.clock);
  uint64_t generation = 0;
  {
    std::lock_guard lock(mutex_);
    generation = generation_;
    target_ = target;
    clock_ = clock;
  }
  std::weak_ptr<PagePrefetch> weak = weak_from_this();
  executor_->inBackground([weak, generation, target, clock] {
    if (auto self = weak.lock()) self->read(generation, target, clock);
  });
}

void PagePrefetch::end() {
  std::shared_ptr<PageWatch> watch;
  {
    std::lock_guard lock(mutex_);
    ++generation_;
    if (clock_) clock_->cut();
    clock_.reset();
    target_.reset();
    snap_.reset();
    watch = std::move(watch_);
  }
  // Letting the watch go tells the desktop to stop sending events, which
  // may wait on the bus: not on the interface thread.
  if (watch) executor_->inBackground([watch = std::move(watch)]() mutable { watch.reset(); });
}

void PagePrefetch::read(uint64_t generation, const BrowserTarget& target,
                        const std::shared_ptr<CutClock>& clock) {
  auto current = [&] {
    std::lock_guard lock(mutex_);
    return generation == generation_;
  };
  if (!current()) return;
  // Without a way to hear the page change, a read could not be trusted later.
  std::shared_ptr<PageWatch> watch = target.platform.accessibility->watchPages(target.app.pid);
  if (!watch) return report("no read ahead: changes to the page cannot be heard here");
  for (int attempt = 0; attempt <= kMaxRereads && current(); ++attempt) {
    const uint64_t before = watch->changes();
    std::optional<PageSnapshot> captured = PageSnapshot::capture(target, *clock);
    if (!captured) return report("no read ahead: no window to read");
    watch->settle();
    if (watch->changes() != before) {  // changed under the read: read it again
      if (current()) report(captured->readSummary() + ", changed meanwhile");
      continue;
    }
    const std::string summary = captured->readSummary();
    {
      std::lock_guard lock(mutex_);
      if (generation != generation_) return;
      snap_ = std::make_shared<const PageSnapshot>(std::move(*captured));
      watch_ = std::move(watch);
      changesAtRead_ = before;
    }
    return report(summary);
  }
}

void PagePrefetch::report(const std::string& line) const {
  if (report_) report_(line);
}

std::shared_ptr<const PageSnapshot> PagePrefetch::take(const BrowserTarget& target) {
  std::shared_ptr<const PageSnapshot> snap;
  std::shared_ptr<PageWatch> watch;
  uint64_t atRead = 0;
  {
    std::lock_guard lock(mutex_);
    if (!snap_ || !target_ || target_->app.pid != target.app.pid ||
        target_->adapter != target.adapter) {
      return nullptr;
    }
    snap = std::move(snap_);
    watch = std::move(watch_);
    atRead = changesAtRead_;
  }
  // Every event the browser sent before Return must be heard first.
  watch->settle();
  if (watch->changes() != atRead) {
    // Often a page still loading when the palette opened: worth telling
    // apart from a read that never finished.
    report("read ahead not used: the page changed after it was read");
    return nullptr;
  }
  // Another tab or page in front says so in the window's title.
  std::optional<AXElement> window = target.window();
  if (!window || AX::str(AX::copy(*window, "AXTitle")) != snap->windowTitle) {
    report("read ahead not used: another page is in front");
    return nullptr;
  }
  return snap;
}

}  // namespace tovrin
