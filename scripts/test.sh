#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Kestrel with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test, or the
# tests the arguments choose (they go to ctest: "-L unit" runs the quick tier).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

build=${KESTREL_TEST_BUILD_DIR:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON -DKESTREL_BUILD_TESTS=ON \
  -DKESTREL_BUILD_BENCH=OFF -DKESTREL_WERROR=ON
cmake --build "$build"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/support/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
