// The text utilities over arbitrary bytes (malformed UTF-8 included).

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/text_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovrin;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)TextUtil::clean(text);
  (void)TextUtil::norm(text);
  (void)TextUtil::fold(text);
  (void)TextUtil::stem(text);
  for (const std::string& t : TextUtil::tokens(text))
    (void)TextUtil::synonyms(TextUtil::stem(t));
  (void)TextUtil::contentTokens(text);
  (void)TextUtil::sentences(text);
  (void)TextUtil::words(text);
  (void)TextUtil::md(text);
  return 0;
}
