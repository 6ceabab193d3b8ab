// The command parser and the target-phrase parser over arbitrary text: any
// bytes must give an intent or nothing, never a crash or a runaway pattern.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "intent/intent_json.h"
#include "intent/intent_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovrin;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto intent = IntentParser::parse(text)) {
    (void)intent->title();
    (void)dumpJson(toJson(*intent));
  }
  for (RoleHint role : {RoleHint::any, RoleHint::field, RoleHint::link})
    (void)toJson(IntentParser::parseTarget(text, role));
  (void)IntentParser::profileField(text);
  (void)IntentParser::strip(text);
  return 0;
}
