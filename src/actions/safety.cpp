#include "actions/safety.h"

#include <vector>

#include "text/text_util.h"

namespace tovrin::Safety {
namespace {

struct Rule {
  std::vector<std::string_view> words;
  std::string_view message;
};

const std::vector<Rule>& rules() {
  static const std::vector<Rule> table = {
      {{"buy", "purchase", "place order", "pay", "pay now", "checkout", "check out",
        "complete order", "confirm order", "donate", "order now"},
       "This may submit a purchase."},
      {{"send", "post", "publish", "submit", "tweet", "reply", "share", "send message"},
       "This may send or publish content."},
      {{"delete", "remove", "erase", "discard", "clear all", "empty trash", "unsubscribe",
        "cancel subscription", "cancel order", "terminate"},
       "This may delete content or cancel something."},
      {{"close account", "delete account", "deactivate", "change password", "update password",
        "reset password", "two factor", "2fa", "revoke", "disable", "security",
        "sign out everywhere"},
       "This may change your account or security settings."},
      {{"subscribe", "confirm", "agree and continue", "i agree", "accept and pay", "authorize",
        "approve"},
       "This may confirm an agreement or consequential action."},
  };
  return table;
}

}  // namespace

std::optional<std::string> assess(std::string_view label) {
  const std::string padded = " " + TextUtil::norm(label) + " ";
  for (const Rule& rule : rules()) {
    for (std::string_view phrase : rule.words) {
      std::string needle = " " + std::string(phrase) + " ";
      if (padded.find(needle) != std::string::npos) return std::string(rule.message);
    }
  }
  return std::nullopt;
}

}  // namespace tovrin::Safety
