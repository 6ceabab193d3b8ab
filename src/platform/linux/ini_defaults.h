#pragma once

// The per-user defaults store of the Linux desktop: an INI file under the
// XDG config directory (tovrin/tovrin.conf), in the format Qt's QSettings
// reads and writes, so the desktop application and the command line share
// it. Every write replaces the file atomically; every read sees what
// another process wrote.

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "accessibility/platform.h"

namespace tovrin {

namespace Ini {
// The keys of the [General] section; other sections are kept apart under
// "Section/key". Malformed lines are skipped.
std::map<std::string, std::string> parse(const std::string& text);
std::string serialize(const std::map<std::string, std::string>& values);
// $XDG_CONFIG_HOME/tovrin/tovrin.conf, else ~/.config/tovrin/tovrin.conf.
std::string defaultPath();
}  // namespace Ini

class IniDefaults final : public Defaults {
 public:
  explicit IniDefaults(std::string path = Ini::defaultPath()) : path_(std::move(path)) {}

  std::optional<std::string> string(const std::string& key) override;
  std::optional<int64_t> integer(const std::string& key) override;
  void setString(const std::string& key, const std::string& value) override;
  void setInteger(const std::string& key, int64_t value) override;
  // Whether the last write reached the disk.
  [[nodiscard]] bool lastWriteSucceeded() const { return lastWrite_; }

 private:
  std::map<std::string, std::string> load();
  void store(const std::string& key, const std::string& value);

  std::mutex mutex_;
  std::string path_;
  bool lastWrite_ = true;
};

}  // namespace tovrin
