#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Kestrel as a packager would (Release, no tests) with GCC and with clang, warnings as
# errors, so that both stay warning-free at full optimisation.
#   KESTREL_RELEASE_COMPILERS  the compilers to build with ("g++ clang++"); CI leaves GCC to the
#                              package build (scripts/package.sh), a GCC Release build itself
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

for compiler in ${KESTREL_RELEASE_COMPILERS:-g++ clang++}; do
  build=${KESTREL_RELEASE_BUILD_DIR:-build-release}-${compiler%++}
  echo "== Release build with $compiler in $build"
  CXX=$compiler cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKESTREL_BUILD_TESTS=OFF -DKESTREL_WERROR=ON >/dev/null
  cmake --build "$build"
done
