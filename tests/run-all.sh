#!/usr/bin/env bash
# Builds tamsor and runs every test suite: the native build, then the
# Windows cross build.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== native build and tests"
cmake -S . -B build -DTAMSOR_WERROR=ON
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j 2

echo "== Windows cross build"
cmake -S . -B build-win --toolchain cmake/mingw-w64.cmake -DTAMSOR_WERROR=ON
cmake --build build-win -j "$(nproc)"
