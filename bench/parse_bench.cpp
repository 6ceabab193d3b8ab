// Cost of turning a typed command into an intent, which the palette pays on
// every keystroke. Prints the first (cold) call, which compiles the rule
// patterns, and the median per-command cost over a corpus of realistic
// commands, then runs the Google Benchmark cases.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <vector>

#include "intent/intent_parser.h"

namespace {

constexpr std::array<std::string_view, 60> kCorpus = {
    "click sign in",
    "click on the second Sign In button",
    "please click the Add to cart button",
    "tap the last link",
    "press the blue Subscribe button next to the price",
    "choose the third result",
    "hit submit",
    "select the checkbox labeled Remember me",
    "push the button called “Buy now”",
    "click the search box",
    "open linkedin",
    "open the pricing page link",
    "open up the first result",
    "open every link about reviews",
    "open all links that mention pricing",
    "open this article",
    "type my email into the login field",
    "fill in my phone number",
    "put my name in the first name box",
    "type hello world into search",
    "type \"running shoes\"",
    "enter 42 in the quantity field",
    "set the name field to \"Ada Lovelace\"",
    "fill the coupon box with SAVE20",
    "replace it with 42",
    "go back",
    "can you go forward please",
    "reload this page",
    "open a new tab",
    "close this tab",
    "next tab",
    "switch to the previous tab",
    "tab 3",
    "go to tab 12",
    "switch to the inbox tab",
    "copy the article",
    "copy this",
    "paste it",
    "select all",
    "press the return key",
    "press escape",
    "press the down arrow key",
    "scroll down a bit",
    "page up",
    "scroll to the bottom of the page",
    "go to the top",
    "scroll to the pricing section",
    "scroll until I see reviews",
    "read this page",
    "what's on this page",
    "summarize this page",
    "tl;dr",
    "summarize the reviews",
    "read me the shipping policy",
    "find all mentions of refund",
    "where is the login button",
    "look for free returns",
    "what buttons are there?",
    "how much does the pro plan cost",
    "bananas",
};

double microsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
      .count();
}

void reportColdAndMedian() {
  auto start = std::chrono::steady_clock::now();
  benchmark::DoNotOptimize(tovrin::IntentParser::parse(kCorpus[0]));
  double cold = microsSince(start);

  constexpr int kRounds = 2000;
  std::vector<double> perCommand;
  for (std::string_view command : kCorpus) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i)
      benchmark::DoNotOptimize(tovrin::IntentParser::parse(command));
    perCommand.push_back(microsSince(t0) / kRounds);
  }
  std::vector<double> sorted = perCommand;
  std::sort(sorted.begin(), sorted.end());
  double median = sorted[sorted.size() / 2];
  std::printf(
      "parse: cold first call %.1f us; over %zu commands: median %.2f us, min %.2f us, "
      "max %.2f us per command\n",
      cold, kCorpus.size(), median, sorted.front(), sorted.back());
}

void BM_ParseCorpus(benchmark::State& state) {
  for (auto _ : state) {
    for (std::string_view command : kCorpus) {
      benchmark::DoNotOptimize(tovrin::IntentParser::parse(command));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kCorpus.size()));
}
BENCHMARK(BM_ParseCorpus)->Unit(benchmark::kMicrosecond);

void BM_ParseFirstRule(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(tovrin::IntentParser::parse("go back"));
}
BENCHMARK(BM_ParseFirstRule);

void BM_ParseLastRule(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(tovrin::IntentParser::parse("click on the second Sign In button"));
  }
}
BENCHMARK(BM_ParseLastRule);

void BM_ParseNoIntent(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(tovrin::IntentParser::parse("bananas"));
}
BENCHMARK(BM_ParseNoIntent);

}  // namespace

int main(int argc, char** argv) {
  reportColdAndMedian();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
