#include "actions/outcome.h"

#include <array>
#include <cstdio>
#include <mutex>
#include <random>

namespace tovrin {

std::string_view kindName(ActionResult::Kind kind) {
  static constexpr std::array<std::string_view, 3> kNames = {"success", "info", "failure"};
  return kNames[static_cast<std::size_t>(kind)];
}

std::string newUUID() {
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  uint64_t high = 0;
  uint64_t low = 0;
  {
    std::lock_guard lock(mutex);
    high = generator();
    low = generator();
  }
  high = (high & 0xFFFFFFFFFFFF0FFFull) | 0x0000000000004000ull;  // version 4
  low = (low & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;    // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                static_cast<unsigned>(low >> 48),
                static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
  return text;
}

}  // namespace tovrin
