// A scene file (the simulated desktop's whole element tree) from arbitrary
// bytes: the loader refuses it with a message or loads it whole, and the
// page reader, the matcher and the question answering then take any tree
// (cycles through refs, depth, huge texts, NaN frames) within their caps.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "accessibility/browser.h"
#include "content/page_qa.h"
#include "content/page_snapshot.h"
#include "intent/element_matcher.h"
#include "intent/intent_parser.h"
#include "platform/simulated_desktop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovrin;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto loaded = SimulatedDesktop::fromJson(text, "fuzz.json");
  auto* desktop = std::get_if<std::shared_ptr<SimulatedDesktop>>(&loaded);
  if (!desktop) return 0;
  BrowserTracker tracker((*desktop)->platform());
  tracker.start();
  auto target = tracker.current();
  if (!target) return 0;
  auto snap = PageSnapshot::capture(*target);
  if (!snap) return 0;
  (void)snap->text();
  for (const char* phrase : {"sign in", "the second button", "search field"}) {
    for (MatchPurpose purpose : {MatchPurpose::click, MatchPurpose::field})
      (void)ElementMatcher::matches(IntentParser::parseTarget(phrase, RoleHint::any),
                                    snap->elements, purpose);
  }
  (void)PageQA::extractiveAnswer(*snap, "what does it cost?");
  (void)PageQA::extractiveSummary(*snap);
  return 0;
}
