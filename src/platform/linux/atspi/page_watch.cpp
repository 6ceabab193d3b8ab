#include "platform/linux/atspi/page_watch.h"

#include <vector>

#include "platform/linux/process/process_info.h"

namespace tovrin::atspi {

LinuxPageWatch::LinuxPageWatch(int32_t pid, std::string busName)
    : pid_(pid), busName_(std::move(busName)) {}

std::shared_ptr<LinuxPageWatch> LinuxPageWatch::open(int32_t pid, std::string busName) {
  std::shared_ptr<LinuxPageWatch> watch(new LinuxPageWatch(pid, std::move(busName)));
  std::string error;
  // A load, a node added or removed, words or a name changed, a tab brought
  // forward (Firefox says so only by what starts or stops showing), another
  // window made active.
  LinuxPageWatch* self = watch.get();
  watch->events_ = AccessibilityEvents::open(
      {AccessibilityEvent::Kind::documentLoaded, AccessibilityEvent::Kind::childrenChanged,
       AccessibilityEvent::Kind::textChanged, AccessibilityEvent::Kind::nameChanged,
       AccessibilityEvent::Kind::showingChanged, AccessibilityEvent::Kind::windowActivated},
      [self](const AccessibilityEvent& event) {
        std::lock_guard lock(self->mutex_);
        ++self->heard_[event.sender];
      },
      error);
  if (!watch->events_) return nullptr;
  return watch;
}

uint64_t LinuxPageWatch::changes() {
  std::map<std::string, uint64_t> heard;
  {
    std::lock_guard lock(mutex_);
    heard = heard_;
  }
  // Only the browser's own processes count: the palette's own text field
  // changes as the user types, and other programs change all the time.
  uint64_t count = 0;
  for (const auto& [sender, events] : heard) {
    auto pid = events_->pidOf(sender);
    if (pid && ProcessInfo::descendsFrom(*pid, pid_)) count += events;
  }
  return count;
}

void LinuxPageWatch::settle() {
  std::vector<std::string> senders;
  if (!busName_.empty()) senders.push_back(busName_);
  {
    std::lock_guard lock(mutex_);
    for (const auto& entry : heard_) {
      if (entry.first != busName_) senders.push_back(entry.first);
    }
  }
  // Only the browser's connections are asked: another program that hangs
  // must not hold the command up.
  std::erase_if(senders, [this](const std::string& sender) {
    auto pid = events_->pidOf(sender);
    return !pid || !ProcessInfo::descendsFrom(*pid, pid_);
  });
  events_->settle(senders);
}

}  // namespace tovrin::atspi
