#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for
# SECONDS (60 unless given) over the seed corpus: fuzz/corpus, the example
# scenes and the recorded AT-SPI replies. New inputs go to a scratch folder,
# not the repository; a crash, leak or timeout fails the run and leaves its
# input in build-fuzz/artifacts/.
#
#   fuzz/run.sh [SECONDS [TARGET...]]     targets: intent text scene atspi model_reply
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(intent text scene atspi model_reply)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DTOVRIN_FUZZ=ON -DTOVRIN_BUILD_TESTS=OFF \
  -DTOVRIN_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target fuzzers -j"$(nproc)" >/dev/null

declare -A seeds=(
  [intent]="fuzz/corpus/intent"
  [text]="fuzz/corpus/text fuzz/corpus/intent"
  [scene]="examples/scenes"
  [atspi]="tests/recorded"
  [model_reply]="fuzz/corpus/model_reply"
)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p build-fuzz/artifacts
status=0
for t in "${targets[@]}"; do
  mkdir -p "$scratch/$t"
  echo "== $t: ${seconds}s"
  # shellcheck disable=SC2086
  if ! build-fuzz/fuzz/${t}_fuzzer -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=200000 -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$t-" \
      "$scratch/$t" ${seeds[$t]} >"$scratch/$t.log" 2>&1; then
    status=1
    tail -40 "$scratch/$t.log"
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|DONE" "$scratch/$t.log" | tr '\n' ' '
  echo
done
exit $status
