#include "platform/linux/ini_defaults.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tovrin {
namespace Ini {
namespace {

// QSettings quotes a value that would otherwise lose its edges or be read
// as a list, and escapes what a line cannot hold.
std::string escape(const std::string& value) {
  const bool quote = !value.empty() && (value.front() == ' ' || value.back() == ' ' ||
                                        value.find_first_of(",;=") != std::string::npos);
  std::string out;
  bool afterHex = false;  // a hex escape reads on through hex digits
  for (unsigned char c : value) {
    const bool hexDigit = std::isxdigit(c) != 0;
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f || (afterHex && hexDigit)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%04x", c);
      out += hex;
      afterHex = true;
      continue;
    } else {
      out += static_cast<char>(c);
    }
    afterHex = false;
  }
  return quote ? '"' + out + '"' : out;
}

void appendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | ((code >> 12) & 0x0F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string unescape(std::string_view raw) {
  // Spaces around a value are not part of it unless quoted.
  while (!raw.empty() && raw.front() == ' ')
    raw.remove_prefix(1);
  while (!raw.empty() && raw.back() == ' ')
    raw.remove_suffix(1);
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '"') continue;
    if (c != '\\' || i + 1 >= raw.size()) {
      out += c;
      continue;
    }
    const char next = raw[++i];
    if (next == 'n') {
      out += '\n';
    } else if (next == 'r') {
      out += '\r';
    } else if (next == 't') {
      out += '\t';
    } else if (next == 'x') {
      unsigned code = 0;
      const char* begin = raw.data() + i + 1;
      const char* end = begin;
      while (end < raw.data() + raw.size() && std::isxdigit(static_cast<unsigned char>(*end))) {
        ++end;
      }
      std::from_chars(begin, end, code, 16);
      appendUtf8(out, code & 0xFFFF);
      i = static_cast<std::size_t>(end - raw.data()) - 1;
    } else {
      out += next;  // \\ and \" stand for themselves
    }
  }
  return out;
}

}  // namespace

std::map<std::string, std::string> parse(const std::string& text) {
  std::map<std::string, std::string> out;
  std::istringstream in(text);
  std::string section = "General";
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      auto close = line.find(']');
      if (close != std::string::npos) section = line.substr(1, close - 1);
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ')
      key.pop_back();
    if (key.empty()) continue;
    out[section == "General" ? key : section + "/" + key] = unescape(line.substr(eq + 1));
  }
  return out;
}

std::string serialize(const std::map<std::string, std::string>& values) {
  std::map<std::string, std::map<std::string, std::string>> sections;
  for (const auto& [key, value] : values) {
    auto slash = key.find('/');
    if (slash == std::string::npos) {
      sections["General"][key] = value;
    } else {
      sections[key.substr(0, slash)][key.substr(slash + 1)] = value;
    }
  }
  std::string out;
  auto write = [&](const std::string& name, const std::map<std::string, std::string>& keys) {
    if (!out.empty()) out += '\n';
    out += '[' + name + "]\n";
    for (const auto& [key, value] : keys)
      out += key + '=' + escape(value) + '\n';
  };
  if (auto it = sections.find("General"); it != sections.end()) write(it->first, it->second);
  for (const auto& [name, keys] : sections) {
    if (name != "General") write(name, keys);
  }
  return out;
}

std::string defaultPath() {
  std::string base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
    base = config;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    base = ".";
  }
  return base + "/tovrin/tovrin.conf";
}

}  // namespace Ini

std::map<std::string, std::string> IniDefaults::load() {
  std::ifstream in(path_);
  std::stringstream text;
  text << in.rdbuf();
  return Ini::parse(text.str());
}

void IniDefaults::store(const std::string& key, const std::string& value) {
  namespace fs = std::filesystem;
  std::lock_guard lock(mutex_);
  auto values = load();
  values[key] = value;
  std::error_code ec;
  fs::create_directories(fs::path(path_).parent_path(), ec);
  // Written beside the file and renamed over it: a reader sees the old
  // file or the new one, never half of either; a failed write loses nothing.
  const std::string temporary = path_ + ".tmp-" + std::to_string(getpid());
  const std::string text = Ini::serialize(values);
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
            ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  ok = ok && std::rename(temporary.c_str(), path_.c_str()) == 0;
  if (!ok) std::remove(temporary.c_str());
  lastWrite_ = ok;
}

std::optional<std::string> IniDefaults::string(const std::string& key) {
  std::lock_guard lock(mutex_);
  auto values = load();
  auto it = values.find(key);
  return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
}

std::optional<int64_t> IniDefaults::integer(const std::string& key) {
  auto text = string(key);
  if (!text) return std::nullopt;
  int64_t value = 0;
  auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return value;
}

void IniDefaults::setString(const std::string& key, const std::string& value) {
  store(key, value);
}

void IniDefaults::setInteger(const std::string& key, int64_t value) {
  store(key, std::to_string(value));
}

}  // namespace tovrin
