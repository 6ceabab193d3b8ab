// A whole command as the palette runs it: a fresh engine reads the
// 6,000-element page, matches "the second Add to cart button", and presses
// it. Waits are instant on the simulated desktop, so this is Tovrin's own
// work per command.

#include <benchmark/benchmark.h>

#include "actions/action_engine.h"
#include "generated_page.h"
#include "intent/intent_parser.h"
#include "platform/simulated_desktop.h"

namespace {

void BM_RunClickSecondAddToCart(benchmark::State& state) {
  auto loaded =
      tovrin::SimulatedDesktop::fromJson(tovrin::bench::generatedPage(6400).dump(), "generated");
  auto desktop = std::get<std::shared_ptr<tovrin::SimulatedDesktop>>(loaded);
  auto target = *tovrin::BrowserTracker(desktop->platform()).current();
  auto highlighter = std::make_shared<tovrin::Highlighter>(desktop->platform());
  const tovrin::Intent intent = *tovrin::IntentParser::parse("click the second Add to cart button");
  std::string headline;
  for (auto _ : state) {
    auto engine =
        tovrin::ActionEngine::make(target, {.model = nullptr, .highlighter = highlighter});
    tovrin::Outcome outcome = engine->run(intent);
    headline = outcome.result() ? outcome.result()->headline : "";
    state.PauseTiming();
    desktop->clearEffects();  // keep the effect log from growing across iterations
    state.ResumeTiming();
  }
  if (headline != "Clicked **Add to cart**")
    state.SkipWithError(("unexpected outcome: " + headline).c_str());
}
BENCHMARK(BM_RunClickSecondAddToCart)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
