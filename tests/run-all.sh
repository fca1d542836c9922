#!/usr/bin/env bash
# Builds tamsor and runs every test suite: the native one, the same under
# AddressSanitizer and UBSan, a short fuzzing run, the Windows one under
# Wine, and checks the packages, installing the .deb. Every option that
# matters is given, so that build trees configured otherwise before (by the
# README's first command, say) are set right again.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== native build and tests"
cmake -S . -B build -DBUILD_TESTING=ON -DTAMSOR_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build --no-tests=error --output-on-failure -j 2

echo "== native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DBUILD_TESTING=ON -DTAMSOR_WERROR=ON -DTAMSOR_SANITIZE=ON
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --no-tests=error --output-on-failure -j 2

echo "== fuzzing the command-line assembly (${TAMSOR_FUZZ_SECONDS:=30} s)"
CXX=clang++ cmake -S . -B build-fuzz -DBUILD_TESTING=ON -DTAMSOR_WERROR=ON -DTAMSOR_FUZZ=ON \
  -DTAMSOR_FUZZ_SECONDS="$TAMSOR_FUZZ_SECONDS"
cmake --build build-fuzz -j "$jobs" --target fuzz_assemble
ctest --test-dir build-fuzz --no-tests=error --output-on-failure -V | grep -E "Done [0-9]+ runs|Passed|Failed|ERROR"

echo "== Windows build, tested under Wine"
export WINEDEBUG=-all
cmake -S . -B build-win --toolchain cmake/mingw-w64.cmake -DBUILD_TESTING=ON -DTAMSOR_WERROR=ON \
  -DTAMSOR_E2E_RUNNER="$PWD/build/tests/e2e_windows_tests"
cmake --build build-win -j "$jobs"
ctest --test-dir build-win --no-tests=error --output-on-failure -j 2

echo "== packages"
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
(cd build-win && cpack -G ZIP >/dev/null)
expect_files build-win/tamsor-*-win64.zip tamsor.exe README.md LICENSE
(cd build && cpack -G "TGZ;DEB" >/dev/null)
expect_files build/tamsor-*-linux-x86_64.tar.gz bin/tamsor \
  share/man/man1/tamsor.1.gz share/doc/tamsor/README.md share/doc/tamsor/LICENSE

deb=$(ls build/tamsor_*.deb)
echo "== $deb: lintian, then installed with apt-get and run"
if ! findings=$(lintian --fail-on error "$deb" 2>&1); then
  echo "$findings"
  exit 1
fi
grep -v "running with root privileges" <<<"$findings" || true
apt-get install -y --reinstall "./$deb" >/dev/null
report=$(/usr/bin/tamsor /bin/true)
grep -q "^sys  *[0-9]*\.[0-9][0-9][0-9] s$" <<<"$report" ||
  { echo "the installed tamsor printed no report: $report"; exit 1; }
# The program the end-to-end suite ran: static, and against musl where
# musl-tools is there (no glibc in it).
file /usr/bin/tamsor | grep -q "statically linked" ||
  { echo "the installed tamsor is not static"; exit 1; }
if command -v musl-gcc >/dev/null && grep -qa GLIBC /usr/bin/tamsor; then
  echo "the installed tamsor is built against glibc, not musl"; exit 1
fi
dpkg -L tamsor | grep -qx /usr/share/man/man1/tamsor.1.gz ||
  { echo "the manual page is not installed"; exit 1; }
echo "installed: $(dpkg-query -W -f='${Package} ${Version}' tamsor), with its manual page; /usr/bin/tamsor ($(stat -c %s /usr/bin/tamsor) bytes, static) reports"
