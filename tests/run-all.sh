#!/usr/bin/env bash
# Builds tamsor and runs every test suite: the native one (with the
# packages it makes), the same under AddressSanitizer and UBSan with a short
# fuzzing run, the Windows one under Wine (with the zip, and the sources
# compiled the MSVC way), and the commit built twice. Every option that
# matters is given, so that build trees configured otherwise before (by the
# README's first command, say) are set right again. Every suite runs even
# if one before failed; the last line counts the tests of them all, and the
# exit status is non-zero if any failed.
set -uo pipefail
cd "$(dirname "$0")/.." || exit
jobs=$(nproc)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
passed=0
failed=0
skipped=0

# Runs a build step; one that fails counts as a failed test.
built() {  # COMMAND...
  "$@" && return 0
  echo "FAILED: $*"
  failed=$((failed + 1))
  return 1
}

# Runs the tests of a build folder and counts them from ctest's summary: all
# it ran, less those it lists as failed, skipped by their own say (a skip
# code or pattern) or disabled. A run that prints no summary, or fails
# where its summary shows no failure (it stopped early), counts as one
# failed test more.
run_ctest() {  # FOLDER CTEST-OPTION...
  local folder=$1 status summary total f s
  shift
  ctest --test-dir "$folder" --no-tests=error --output-on-failure "$@" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+$' "$log")
  if [ -z "$summary" ]; then
    echo "FAILED: the tests of $folder printed no summary"
    failed=$((failed + 1))
    return
  fi
  read -r total f <<<"$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+)$/\2 \1/' <<<"$summary")"
  s=$(sed -n '/^The following tests did not run:/,/^$/p' "$log" | grep -cE '\((Skipped|Disabled)\)$')
  if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then
    echo "FAILED: the tests of $folder stopped early (ctest's exit status $status)"
    f=1
  fi
  passed=$((passed + total - f - s))
  failed=$((failed + f))
  skipped=$((skipped + s))
}

echo "== native build and tests, and the packages"
built cmake -S . -B build -DBUILD_TESTING=ON -DTAMSOR_WERROR=ON &&
  built cmake --build build -j "$jobs" &&
  run_ctest build -j 2

echo "== native tests under AddressSanitizer and UBSan, with clang; fuzzing (${TAMSOR_FUZZ_SECONDS:=30} s)"
# A folder configured before with another compiler keeps it whatever is
# asked, so such a folder is configured afresh.
if ! clang=$(command -v clang) || ! clangxx=$(command -v clang++); then
  echo "FAILED: the sanitized build needs clang and clang++ (Debian's clang)"
  failed=$((failed + 1))
else
  fresh=()
  grep -qx "CMAKE_CXX_COMPILER:[A-Z]*=$clangxx" build-asan/CMakeCache.txt 2>/dev/null ||
    fresh=(--fresh)
  built cmake "${fresh[@]}" -S . -B build-asan -DCMAKE_C_COMPILER="$clang" \
    -DCMAKE_CXX_COMPILER="$clangxx" -DBUILD_TESTING=ON -DTAMSOR_WERROR=ON \
    -DTAMSOR_SANITIZE=ON -DTAMSOR_FUZZ_SECONDS="$TAMSOR_FUZZ_SECONDS" &&
    built cmake --build build-asan -j "$jobs" &&
    run_ctest build-asan -j 2
fi

echo "== Windows build, tested under Wine; the zip; MSVC mode"
export WINEDEBUG=-all
built cmake -S . -B build-win --toolchain cmake/mingw-w64.cmake -DBUILD_TESTING=ON \
  -DTAMSOR_WERROR=ON &&
  built cmake --build build-win -j "$jobs" &&
  run_ctest build-win -j 2

echo "== the commit built twice"
if cmake/reproducible.sh build-repro; then
  passed=$((passed + 1))
else
  echo "FAILED: the commit built twice"
  failed=$((failed + 1))
fi

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
