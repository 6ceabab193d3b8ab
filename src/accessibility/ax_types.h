#pragma once

// The vocabulary between Tovrin's logic and a desktop backend: element
// handles, attribute values and result codes, named as the macOS
// Accessibility API names them, whichever backend serves them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tovrin {

class Accessibility;

// Result codes of platform calls; 0 is success.
namespace AXErr {
inline constexpr int32_t kSuccess = 0;
inline constexpr int32_t kFailure = -25200;
inline constexpr int32_t kIllegalArgument = -25201;
inline constexpr int32_t kInvalidUIElement = -25202;
inline constexpr int32_t kCannotComplete = -25204;
inline constexpr int32_t kAttributeUnsupported = -25205;
inline constexpr int32_t kActionUnsupported = -25206;
inline constexpr int32_t kNotImplemented = -25208;
inline constexpr int32_t kAPIDisabled = -25211;
inline constexpr int32_t kNoValue = -25212;
}  // namespace AXErr

// A handle to one accessibility element of another process. Handles compare
// and hash by identity: two handles obtained separately for the same element
// are equal. Copies share the backend that made them.
class AXElement {
 public:
  AXElement() = default;
  AXElement(std::shared_ptr<Accessibility> api, uint64_t key) : api_(std::move(api)), key_(key) {}

  explicit operator bool() const { return api_ != nullptr; }
  [[nodiscard]] Accessibility* api() const { return api_.get(); }
  [[nodiscard]] uint64_t key() const { return key_; }

  friend bool operator==(const AXElement& a, const AXElement& b) {
    return a.api_ == b.api_ && a.key_ == b.key_;
  }

 private:
  std::shared_ptr<Accessibility> api_;
  uint64_t key_ = 0;
};

struct AXElementHash {
  std::size_t operator()(const AXElement& e) const {
    return std::hash<uint64_t>()(e.key()) ^ (std::hash<const void*>()(e.api()) << 1);
  }
};

struct Frame {
  double x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const Frame&, const Frame&) = default;
};

struct AXNull {
  friend bool operator==(const AXNull&, const AXNull&) = default;
};
struct AXNumber {
  double value = 0;
  friend bool operator==(const AXNumber&, const AXNumber&) = default;
};
struct AXAttributedString {
  std::string text;
  friend bool operator==(const AXAttributedString&, const AXAttributedString&) = default;
};
struct AXPoint {
  double x = 0, y = 0;
  friend bool operator==(const AXPoint&, const AXPoint&) = default;
};
struct AXSize {
  double width = 0, height = 0;
  friend bool operator==(const AXSize&, const AXSize&) = default;
};
// The error box a multi-attribute read puts where one attribute failed.
struct AXErrorValue {
  int32_t code = AXErr::kFailure;
  friend bool operator==(const AXErrorValue&, const AXErrorValue&) = default;
};
struct AXURL {
  std::string absolute;
  friend bool operator==(const AXURL&, const AXURL&) = default;
};
using AXElementArray = std::vector<AXElement>;

// An attribute value, of one of the kinds Tovrin tells apart.
using AXValue = std::variant<AXNull, std::string, AXAttributedString, AXNumber, bool, AXPoint,
                             AXSize, AXErrorValue, AXURL, AXElement, AXElementArray>;

template <typename T>
struct AXResult {
  int32_t code = AXErr::kFailure;
  T value{};
};

}  // namespace tovrin
