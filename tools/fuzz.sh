#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each for a while.
#   tools/fuzz.sh [seconds per harness, default 60] [harness name ...]
# CI runs it briefly; run it longer by hand, e.g. `tools/fuzz.sh 1800`.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
build=${CORVANE_FUZZ_BUILD:-build/fuzz}
generator=(); command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
cmake -S . -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_BUILD_MODULE=OFF -DCORVANE_FUZZ=ON >/dev/null
cmake --build "$build" --parallel 2
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for source in fuzz/fuzz_*.cpp; do names+=("$(basename "$source" .cpp)"); done
fi
for name in "${names[@]}"; do
  corpus_name=${name#fuzz_}
  work=$(mktemp -d)
  seeds=fuzz/corpus/$corpus_name
  [ -d "$seeds" ] || seeds=$(mktemp -d)
  echo "== $name for ${seconds}s"
  UBSAN_OPTIONS=halt_on_error=1 "$build/fuzz/$name" -max_total_time="$seconds" -max_len=65536 \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work" "$seeds" 2>&1 | tail -n 4
  rm -rf "$work"
done
