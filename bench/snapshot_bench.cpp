// Cost of one page read on the simulated desktop: both crawls, lines and
// chunks of a generated page large enough that the page pass reads its full
// 6,000 elements. The simulated desktop
// answers from memory, so this measures Tovrin's own work per element.

#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>

#include "accessibility/browser.h"
#include "content/page_snapshot.h"
#include "generated_page.h"
#include "platform/simulated_desktop.h"

namespace {

void BM_CaptureSixThousandElements(benchmark::State& state) {
  auto loaded =
      tovrin::SimulatedDesktop::fromJson(tovrin::bench::generatedPage(6400).dump(), "generated");
  if (auto* error = std::get_if<tovrin::SceneError>(&loaded)) {
    state.SkipWithError(error->message.c_str());
    return;
  }
  auto desktop = std::get<std::shared_ptr<tovrin::SimulatedDesktop>>(loaded);
  tovrin::BrowserTracker tracker(desktop->platform());
  auto target = tracker.current();
  std::size_t elements = 0;
  for (auto _ : state) {
    auto snap = tovrin::PageSnapshot::capture(*target);
    elements = snap->elements.size();
    benchmark::DoNotOptimize(snap);
  }
  state.counters["elements"] = static_cast<double>(elements);
}
BENCHMARK(BM_CaptureSixThousandElements)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
