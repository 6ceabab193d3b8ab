// A recording of AT-SPI replies (tests/recorded, mutated) replayed as the
// accessibility bus: the reply decoding, the role and state mapping, Firefox
// text-leaf synthesis and the page read must take whatever the recording
// says, or refuse it with its line.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "accessibility/browser.h"
#include "content/page_snapshot.h"
#include "platform/linux/linux_desktop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovrin;
  static const std::string path = "/tmp/tovrin-fuzz-" + std::to_string(getpid()) + ".atspi";
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  auto opened = LinuxDesktop::open({.recordFile = {}, .replayFile = path});
  if (auto* desktop = std::get_if<std::shared_ptr<LinuxDesktop>>(&opened)) {
    BrowserTracker tracker((*desktop)->platform());
    tracker.start();
    if (auto target = tracker.current()) {
      if (auto snap = PageSnapshot::capture(*target)) (void)snap->text();
    }
  }
  return 0;
}
