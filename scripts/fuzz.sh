#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while on a copy of its seed corpus
# (the inputs it finds stay out of the repository), so that the targets keep building and keep
# passing. Fails when any target finds a crash, a leak or a hang; the input that did it is kept in
# build-fuzz/artifacts/.
# Usage: scripts/fuzz.sh [SECONDS]   (per target; default 45)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-45}
build="$root/build-fuzz"
fuzz="$root/fuzz"

# target, its corpus folders, its dictionary (or none), its own options. Each fuzz_inbound input
# runs the whole watch core and sets some 60,000 coverage features; libFuzzer's entropic schedule
# then spends most of the time counting them, and without it the target runs about seven times as
# many inputs and reaches more.
targets=(
  "fuzz_bplist|bplist|fuzz_bplist.dict|"
  "fuzz_inbound|inbound decoders|fuzz_inbound.dict|-entropic=0"
  "fuzz_widget|widget|fuzz_widget.dict|"
)

# Only the fuzz targets: the rest of the tree (the screens above all) is built and tested by the
# other builds.
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DWRISTSIDE_FUZZ=ON -DWRISTSIDE_TESTS=OFF >/dev/null
cmake --build "$build" --target $(for entry in "${targets[@]}"; do echo "${entry%%|*}"; done)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/artifacts"
failed=()
for entry in "${targets[@]}"; do
  IFS='|' read -r target corpora dict own <<<"$entry"
  corpus="$work/$target"
  mkdir -p "$corpus"
  for dir in $corpora; do
    cp "$fuzz/corpus/$dir"/* "$corpus/"
  done
  options=(-max_total_time="$seconds" -timeout=30 -print_final_stats=1
           -artifact_prefix="$build/artifacts/$target-")
  [ -n "$dict" ] && options+=(-dict="$fuzz/$dict")
  [ -n "$own" ] && options+=($own)
  echo "== $target: $seconds s"
  if "$build/fuzz/$target" "${options[@]}" "$corpus" >"$work/$target.log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$target.log" || true
    grep -E '^#[0-9]+' "$work/$target.log" | tail -n 1 || true
  else
    tail -n 60 "$work/$target.log"
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found a problem in: ${failed[*]} (inputs in $build/artifacts/)"
  exit 1
fi
