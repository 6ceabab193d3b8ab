#include "actions/safety.h"

#include <gtest/gtest.h>

namespace tovrin {
namespace {

constexpr const char* kPurchase = "This may submit a purchase.";
constexpr const char* kSend = "This may send or publish content.";
constexpr const char* kDelete = "This may delete content or cancel something.";
constexpr const char* kAccount = "This may change your account or security settings.";
constexpr const char* kAgree = "This may confirm an agreement or consequential action.";

TEST(SafetyTest, Assess) {
  const std::pair<const char*, const char*> cases[] = {
      {"Buy now", kPurchase},
      {"Buy & Send", kPurchase},  // the earlier rule wins
      {"Delete account", kDelete},
      {"Sign out everywhere", kAccount},
      {"Sign out", nullptr},
      {"Check-out", kPurchase},
      {"CHECKOUT", kPurchase},
      {"2FA settings", kAccount},
      {"Disable notifications", kAccount},
      {"I agree", kAgree},
      {"Agree", nullptr},
      {"Subscribe", kAgree},
      {"Unsubscribe", kDelete},
      {"", nullptr},
      {"Payment methods", nullptr},  // whole words only
      {"Postal code", nullptr},
      {"Shared with me", nullptr},
      {"Réply", kSend},  // diacritics fold
      {"  Post\ncomment ", kSend},
      {"🛒 Buy", kPurchase},
      {"Add to cart", nullptr},
  };
  for (const auto& [label, expected] : cases) {
    SCOPED_TRACE(label);
    auto message = Safety::assess(label);
    if (expected == nullptr) {
      EXPECT_EQ(message, std::nullopt);
    } else {
      EXPECT_EQ(message, expected);
    }
  }
}

}  // namespace
}  // namespace tovrin
