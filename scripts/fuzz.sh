#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang and runs each one for a while on a copy of its seed
# corpus (new inputs stay in the build folder, never in tests/fuzz/corpus). Two run at a time.
# Fails when a target finds a crash, a leak, undefined behaviour, a time-out or an input that
# takes too much memory; the input is kept in BUILD/fuzz-runs/TARGET/.
#   KESTREL_FUZZ_BUILD_DIR  build folder (build-fuzz)
#   KESTREL_FUZZ_SECONDS    seconds per target (20)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

build=${KESTREL_FUZZ_BUILD_DIR:-build-fuzz}
seconds=${KESTREL_FUZZ_SECONDS:-20}
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_FUZZ=ON \
  -DKESTREL_BUILD_TESTS=OFF -DKESTREL_BUILD_BENCH=OFF -DKESTREL_WERROR=ON >/dev/null
cmake --build "$build"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
runs="$build/fuzz-runs"
rm -rf "$runs"
mkdir -p "$runs"

# One target: its corpus copied, its log, its exit code in rc.
fuzz_one() {
  local name=$1
  local dir="$runs/$name"
  mkdir -p "$dir"
  cp -r "tests/fuzz/corpus/$name" "$dir/corpus"
  local rc=0
  "$build/tests/fuzz/$name" -max_total_time="$seconds" -timeout=1 -malloc_limit_mb=256 \
    -rss_limit_mb=2048 -max_len=1048576 -detect_leaks=1 -print_final_stats=1 \
    -artifact_prefix="$dir/" "$dir/corpus" >"$dir/log" 2>&1 || rc=$?
  echo "$rc" >"$dir/rc"
}

targets=()
for corpus in tests/fuzz/corpus/*_fuzz; do
  targets+=("$(basename "$corpus")")
done
for name in "${targets[@]}"; do
  if [ ! -x "$build/tests/fuzz/$name" ]; then
    echo "no fuzz target $name for tests/fuzz/corpus/$name" >&2
    exit 1
  fi
done

running=0
for name in "${targets[@]}"; do
  if [ "$running" -ge 2 ]; then
    wait -n || true
    running=$((running - 1))
  fi
  fuzz_one "$name" &
  running=$((running + 1))
done
wait

failed=0
for name in "${targets[@]}"; do
  dir="$runs/$name"
  rc=$(cat "$dir/rc" 2>/dev/null || echo missing)
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
  if [ "$rc" = 0 ]; then
    printf '%-16s ok      %s executions in %s s\n' "$name" "${executions:-?}" "$seconds"
  else
    failed=1
    printf '%-16s FAILED  (exit %s) after %s executions; input and log in %s\n' "$name" "$rc" \
      "${executions:-?}" "$dir"
    tail -n 40 "$dir/log"
  fi
done
exit "$failed"
