// Cost of the two page searches a command pays after reading the page:
// matching a target phrase against every element of a 6,000-element page,
// and ranking the chunks of a 500-chunk page against a question.

#include <benchmark/benchmark.h>

#include <string>

#include "accessibility/browser.h"
#include "content/page_qa.h"
#include "content/page_snapshot.h"
#include "generated_page.h"
#include "intent/element_matcher.h"
#include "intent/intent_parser.h"
#include "platform/simulated_desktop.h"

namespace {

const tovrin::PageSnapshot& sixThousandElements() {
  static const tovrin::PageSnapshot snap = [] {
    auto loaded =
        tovrin::SimulatedDesktop::fromJson(tovrin::bench::generatedPage(6400).dump(), "generated");
    auto desktop = std::get<std::shared_ptr<tovrin::SimulatedDesktop>>(loaded);
    return *tovrin::PageSnapshot::capture(*tovrin::BrowserTracker(desktop->platform()).current());
  }();
  return snap;
}

void BM_MatchThreeWordQuery(benchmark::State& state) {
  const auto& snap = sixThousandElements();
  const tovrin::TargetSpec spec =
      tovrin::IntentParser::parseTarget("add to cart", tovrin::RoleHint::any);
  std::size_t found = 0;
  for (auto _ : state) {
    auto result = tovrin::ElementMatcher::matches(spec, snap.elements, tovrin::MatchPurpose::click);
    found = result.matches.size();
    benchmark::DoNotOptimize(result);
  }
  state.counters["elements"] = static_cast<double>(snap.elements.size());
  state.counters["matches"] = static_cast<double>(found);
}
BENCHMARK(BM_MatchThreeWordQuery)->Unit(benchmark::kMillisecond);

// The text fallback scores every element, not only the pressable ones.
void BM_MatchTextFallback(benchmark::State& state) {
  const auto& snap = sixThousandElements();
  const tovrin::TargetSpec spec =
      tovrin::IntentParser::parseTarget("paragraph of generated", tovrin::RoleHint::any);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tovrin::ElementMatcher::matches(spec, snap.elements, tovrin::MatchPurpose::click));
  }
}
BENCHMARK(BM_MatchTextFallback)->Unit(benchmark::kMillisecond);

// 500 chunks of about 700 characters of varied English words.
tovrin::PageSnapshot fiveHundredChunks() {
  static const char* const kWords[] = {
      "shipping",     "returns",  "price",  "plan",    "the",      "customer", "delivery", "order",
      "account",      "support",  "and",    "free",    "within",   "days",     "of",       "your",
      "payment",      "card",     "refund", "policy",  "we",       "offer",    "monthly",  "annual",
      "subscription", "features", "team",   "storage", "security", "privacy",  "data",     "to",
      "in",           "for",      "a",      "is",      "with",     "our",      "you",      "can"};
  tovrin::PageSnapshot snap;
  unsigned seed = 12345;
  for (int c = 0; c < 500; ++c) {
    tovrin::PageChunk chunk;
    chunk.heading = "Section " + std::to_string(c);
    chunk.text = chunk.heading;
    while (chunk.text.size() < 700) {
      seed = seed * 1103515245 + 12345;
      chunk.text += (chunk.text.size() % 90 < 8 ? "\n" : " ");
      chunk.text += kWords[(seed >> 16) % (sizeof kWords / sizeof *kWords)];
    }
    chunk.elementID = c;
    snap.chunks.push_back(std::move(chunk));
  }
  return snap;
}

void BM_RankChunks(benchmark::State& state) {
  const tovrin::PageSnapshot snap = fiveHundredChunks();
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        tovrin::PageQA::rankChunks(snap, "how much does annual shipping cost"));
  }
  state.counters["chunks"] = static_cast<double>(snap.chunks.size());
}
BENCHMARK(BM_RankChunks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
