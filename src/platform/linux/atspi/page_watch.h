#pragma once

// A browser's pages heard changing over AT-SPI events, while a page read
// ahead of a command waits to be used. The events are registered only while
// the watch lives: a hidden palette asks the browsers for nothing.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "accessibility/platform.h"
#include "platform/linux/atspi/accessibility_events.h"

namespace tovrin::atspi {

class LinuxPageWatch final : public PageWatch {
 public:
  // Nothing when the accessibility bus cannot be reached. `busName` is the
  // browser's own name on the accessibility bus, if known.
  static std::shared_ptr<LinuxPageWatch> open(int32_t pid, std::string busName);

  uint64_t changes() override;
  void settle() override;

 private:
  LinuxPageWatch(int32_t pid, std::string busName);

  const int32_t pid_;
  const std::string busName_;
  std::mutex mutex_;
  std::map<std::string, uint64_t> heard_;  // events by sender, from every application
  std::unique_ptr<AccessibilityEvents> events_;
};

}  // namespace tovrin::atspi
