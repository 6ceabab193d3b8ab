// The palette's live preview, recomputed on every keystroke: each prefix of a
// 40-character command, as the user types it.

#include <benchmark/benchmark.h>

#include <string>

#include "ui/palette_view_model.h"

namespace {

void BM_PreviewEveryKeystroke(benchmark::State& state) {
  const std::string command =
      "click the second Add to cart button now";  // 39 characters, then one more
  const std::string typed = command + "!";
  auto vm =
      tovrin::PaletteViewModel::make({.platform = {},
                                      .tracker = nullptr,
                                      .model = nullptr,
                                      .highlighter = nullptr,
                                      .executor = std::make_shared<tovrin::InlineExecutor>()});
  for (auto _ : state) {
    for (std::size_t n = 1; n <= typed.size(); ++n) {
      vm->input.assign(typed, 0, n);
      benchmark::DoNotOptimize(vm->preview());
    }
  }
  // Time per iteration covers all 40 keystrokes; items per second counts keystrokes.
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(typed.size()));
}
BENCHMARK(BM_PreviewEveryKeystroke)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
