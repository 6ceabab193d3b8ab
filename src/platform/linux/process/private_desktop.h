#pragma once

// A desktop of Tovrin's own that nobody sees: a virtual X server, a window
// manager, a session bus and the accessibility bus with assistive
// technology support on, as a user's desktop has them. Starting it points
// this process at it (DISPLAY, the session bus, XDG folders in a scratch
// folder), so everything opened afterwards lives there; stopping it ends
// every program it started and removes the scratch folder.

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

namespace tovrin {

class PrivateDesktop {
 public:
  struct Options {
    int width = 1280;
    int height = 900;
  };
  // The running desktop, or what is missing (in words for the user).
  static std::variant<std::unique_ptr<PrivateDesktop>, std::string> start(const Options& options);
  ~PrivateDesktop();
  PrivateDesktop(const PrivateDesktop&) = delete;
  PrivateDesktop& operator=(const PrivateDesktop&) = delete;

  [[nodiscard]] const std::string& scratch() const { return scratch_; }
  [[nodiscard]] const std::string& display() const { return display_; }
  // A program started inside (a browser): stopped first, with its group.
  void adopt(pid_t group);
  // Ends everything started here and removes the scratch folder; safe to
  // call more than once and from another thread.
  void stop();

 private:
  PrivateDesktop() = default;
  std::string scratch_;
  std::string display_;
  std::vector<pid_t> servers_;  // in the order they were started
  std::vector<pid_t> adopted_;
  std::mutex mutex_;
  bool stopped_ = false;
};

// A fresh folder of Tovrin's under $TMPDIR (or /tmp), named after `stem`;
// empty when it cannot be made.
std::string makeScratchFolder(const std::string& stem);
// Removes a folder and everything in it; false when something stayed.
bool removeTree(const std::string& path);

}  // namespace tovrin
