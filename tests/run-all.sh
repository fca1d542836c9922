#!/usr/bin/env bash
# Builds tamsor and runs every test suite: the native one, the same under
# AddressSanitizer and UBSan, a short fuzzing run, the Windows one under
# Wine, and checks the packages from their contents. Every option that
# matters is given, so that build trees configured otherwise before (by the
# README's first command, say) are set right again. Every suite runs even
# if one before failed; the last line counts the tests of them all, and the
# exit status is non-zero if any failed.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
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

# Runs the tests of a build folder and counts them from ctest's JUnit
# record, not from its printed words: a test that ran and passed, one that
# failed or could not start, one skipped by its own say (a skip code or
# pattern) or disabled. A run that leaves no record, or fails where its
# record shows no failure (it stopped early), counts as one failed test more.
run_ctest() {  # FOLDER CTEST-OPTION...
  local folder=$1 log="$results/$1.log" junit="$results/$1.xml" status counts
  shift
  ctest --test-dir "$folder" --no-tests=error --output-junit "$junit" "$@" 2>&1 |
    tee "$log"
  status=${PIPESTATUS[0]}
  if ! counts=$(python3 - "$junit" <<'EOF'
import sys
import xml.etree.ElementTree as ET
passed = failed = skipped = 0
for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    status = case.get("status")
    skip = case.find("skipped")
    if status == "run":
        passed += 1
    elif status == "disabled" or (
            status == "notrun" and skip is not None and
            skip.get("message", "").startswith("SKIP_")):
        skipped += 1
    else:  # failed, or could not be started
        failed += 1
print(passed, failed, skipped)
EOF
  ); then
    echo "FAILED: the tests of $folder left no readable record"
    failed=$((failed + 1))
    return
  fi
  read -r p f s <<<"$counts"
  if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then
    echo "FAILED: the tests of $folder stopped early (ctest's exit status $status)"
    f=1
  fi
  passed=$((passed + p))
  failed=$((failed + f))
  skipped=$((skipped + s))
}

echo "== native build and tests"
built cmake -S . -B build -DBUILD_TESTING=ON -DTAMSOR_WERROR=ON &&
  built cmake --build build -j "$jobs" &&
  run_ctest build --output-on-failure -j 2

echo "== native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
built cmake -S . -B build-asan -DBUILD_TESTING=ON -DTAMSOR_WERROR=ON -DTAMSOR_SANITIZE=ON &&
  built cmake --build build-asan -j "$jobs" &&
  run_ctest build-asan --output-on-failure -j 2

echo "== fuzzing the command-line assembly (${TAMSOR_FUZZ_SECONDS:=30} s)"
# libFuzzer needs clang. A folder configured before with another compiler
# keeps it whatever is asked, so such a folder is configured afresh.
fuzz_compilers() {  # the C and C++ compilers the fuzz folder holds, resolved
  sed -n 's/^CMAKE_\(C\|CXX\)_COMPILER:[A-Z]*=//p' build-fuzz/CMakeCache.txt 2>/dev/null |
    xargs -r realpath
}
if ! clang=$(command -v clang) || ! clangxx=$(command -v clang++); then
  echo "FAILED: the fuzz step needs clang and clang++ (Debian's clang)"
  failed=$((failed + 1))
else
  # Named only where the folder is new: CMake takes a compiler named
  # otherwise than it holds as a change.
  compilers=()
  if [ ! -e build-fuzz/CMakeCache.txt ]; then
    compilers=(-DCMAKE_C_COMPILER="$clang" -DCMAKE_CXX_COMPILER="$clangxx")
  elif [ "$(fuzz_compilers | sort)" != "$(realpath "$clang" "$clangxx" | sort)" ]; then
    echo "build-fuzz was configured with another compiler: configured afresh with clang"
    compilers=(--fresh -DCMAKE_C_COMPILER="$clang" -DCMAKE_CXX_COMPILER="$clangxx")
  fi
  built cmake "${compilers[@]}" -S . -B build-fuzz -DBUILD_TESTING=ON -DTAMSOR_WERROR=ON \
    -DTAMSOR_FUZZ=ON -DTAMSOR_FUZZ_SECONDS="$TAMSOR_FUZZ_SECONDS" &&
    built cmake --build build-fuzz -j "$jobs" &&
    { run_ctest build-fuzz -V >/dev/null
      grep -E "Done [0-9]+ runs|Passed|Failed|ERROR" "$results/build-fuzz.log"; }
fi

echo "== Windows build, tested under Wine"
export WINEDEBUG=-all
built cmake -S . -B build-win --toolchain cmake/mingw-w64.cmake -DBUILD_TESTING=ON \
  -DTAMSOR_WERROR=ON &&
  built cmake --build build-win -j "$jobs" &&
  run_ctest build-win --output-on-failure -j 2

# The files cpack says it made, this build's version and no other.
packages() {  # FOLDER GENERATORS
  (cd "$1" && cpack -G "$2") | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p'
}

expect_files() {  # ARCHIVE FILE...
  local archive=$1 listing
  shift
  listing=$(cmake -E tar tf "$archive")
  for file in "$@"; do
    grep -qx "[^/]*/$file" <<<"$listing" ||
      { echo "$archive lacks $file"; exit 1; }
  done
  echo "$archive: $*"
}

check_packages() {
  local made zip tgz deb
  zip=$(packages build-win ZIP)
  [ -n "$zip" ] || { echo "cpack made no zip"; exit 1; }
  expect_files "$zip" tamsor.exe README.md doc/windows.md LICENSE
  made=$(packages build "TGZ;DEB")
  tgz=$(grep '\.tar\.gz$' <<<"$made") || { echo "cpack made no tarball"; exit 1; }
  deb=$(grep '\.deb$' <<<"$made") || { echo "cpack made no .deb"; exit 1; }
  expect_files "$tgz" bin/tamsor \
    share/man/man1/tamsor.1.gz share/doc/tamsor/README.md share/doc/tamsor/LICENSE

  echo "== $deb: lintian, its listing, and its program run from a copy unpacked"
  if ! findings=$(lintian --fail-on error "$deb" 2>&1); then
    echo "$findings"
    exit 1
  fi
  grep -v "running with root privileges" <<<"$findings" || true
  # Read from the package, not installed: the suite leaves the machine's
  # /usr as it found it.
  listing=$(dpkg-deb -c "$deb" | awk '{print $NF}')
  for file in ./usr/bin/tamsor ./usr/share/man/man1/tamsor.1.gz \
      ./usr/share/doc/tamsor/copyright ./usr/share/lintian/overrides/tamsor; do
    grep -qx -- "$file" <<<"$listing" || { echo "$deb lacks $file"; exit 1; }
  done
  local unpacked=$results/deb
  rm -rf "$unpacked"
  dpkg-deb -x "$deb" "$unpacked"
  local program=$unpacked/usr/bin/tamsor
  report=$("$program" /bin/true)
  grep -q "^sys  *[0-9]*\.[0-9][0-9][0-9] s$" <<<"$report" ||
    { echo "the packaged tamsor printed no report: $report"; exit 1; }
  # The program the end-to-end suite ran: static, and against musl where
  # musl-tools is there (no glibc in it).
  file "$program" | grep -q "statically linked" ||
    { echo "the packaged tamsor is not static"; exit 1; }
  if command -v musl-gcc >/dev/null && grep -qa GLIBC "$program"; then
    echo "the packaged tamsor is built against glibc, not musl"; exit 1
  fi
  # shellcheck disable=SC2016
  echo "packaged: $(dpkg-deb -W --showformat='${Package} ${Version}' "$deb"), with its manual page;" \
    "usr/bin/tamsor ($(stat -c %s "$program") bytes, static) reports"
}

# A check that is one test: it passes or fails whole. It runs in a subshell
# of its own with -e, so that a function stops at its first failing
# command (tested in an `if`, it would go on past it).
checked() {  # WHAT COMMAND...
  local what=$1
  shift
  (set -e; "$@")
  # shellcheck disable=SC2181
  if [ $? -eq 0 ]; then
    passed=$((passed + 1))
  else
    echo "FAILED: $what"
    failed=$((failed + 1))
  fi
}

echo "== packages"
checked "the package checks" check_packages

echo "== MSVC mode (clang-cl); release manifests; the commit built twice"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-win/CMakeCache.txt)
checked "the MSVC-mode compile" cmake/msvc-mode.sh "$PWD/build-msvc"
checked "the release manifests" \
  cmake/check-release.py manifests "build-win/tamsor-$version-win64.zip"
checked "the commit built twice" cmake/reproducible.sh build-repro

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
