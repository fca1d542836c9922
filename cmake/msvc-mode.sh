#!/usr/bin/env bash
# Compiles tamsor.exe's sources the MSVC way, as a Visual Studio build does:
# CMake configured with clang-cl, which it takes for MSVC, against the
# Windows and C runtime headers of Debian's libwine-dev (installed with the
# rest of tests/debian-packages; TAMSOR_WINDOWS_HEADERS may name another
# folder holding windows/ and msvcrt/). Nothing is linked: no static C
# runtime or wsetargv.obj exists here, so the link line is only read.
#   cmake/msvc-mode.sh [BUILD-FOLDER]   (relative to where it is run;
#                                        build-msvc in the checkout if none)
set -euo pipefail
build=$(realpath -m "${1:-$(dirname "$0")/../build-msvc}")
cd "$(dirname "$0")/.."
fail() { echo "msvc-mode: $*"; exit 1; }
headers=${TAMSOR_WINDOWS_HEADERS:-/usr/include/wine/wine}
if [ ! -d "$headers/windows" ] || [ ! -d "$headers/msvcrt" ]; then
  fail "no Windows headers in $headers: install libwine-dev (see tests/debian-packages)"
fi

# Afresh: the toolchain's flags reach only a cache made with them.
cmake --fresh -S . -B "$build" -G "Unix Makefiles" --toolchain cmake/clang-cl.cmake \
  -DTAMSOR_WINDOWS_HEADERS="$headers" -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_TESTING=OFF -DTAMSOR_WERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
# /W4 and the rest are given only where CMake takes the compiler for MSVC.
commands=$(grep '"command"' "$build/compile_commands.json")
for flag in " /W4 " " /WX " " -MT " " /Brepro " " -DWIN32_LEAN_AND_MEAN "; do
  ! grep -v -q -- "$flag" <<<"$commands" || fail "a source is compiled without$flag"
done
! grep -q -- "__USE_MINGW_ANSI_STDIO\|-Wall" <<<"$commands" || fail "MinGW's or GCC's flags in the MSVC build"
link=$(cat "$build/src/CMakeFiles/tamsor.dir/link.txt")
for flag in " wsetargv.obj " " /MANIFEST:NO " " /Brepro "; do
  grep -q -- "$flag" <<<"$link" || fail "tamsor.exe is linked without$flag"
done

echo "+ $(grep -o '"command": "[^"]*platform-win32.cc"' "$build/compile_commands.json" | cut -d'"' -f4)"
make -C "$build" --no-print-directory tamsor_core
make -C "$build/src" --no-print-directory main-win32.obj tamsor.res
grep -qa "UTF-8</activeCodePage>" "$build/src/CMakeFiles/tamsor.dir/tamsor.rc.res" ||
  fail "the resources lack the manifest"

# The guard: the runtime as a DLL (/MD) is refused, saying why.
compile=$(grep -o '"command": "[^"]*platform-win32.cc"' "$build/compile_commands.json" | cut -d'"' -f4)
compile=${compile/ -MT / -MD }
refusal=$(cd "$build/src" && ${compile/ -c -- / -Zs -- } 2>&1) && fail "a /MD build was not refused"
grep -q "link the C runtime statically (/MT)" <<<"$refusal" || fail "/MD refused without the reason: $refusal"
echo "msvc-mode: tamsor.exe's sources compile with clang-cl in MSVC mode (/W4 /WX -MT);" \
  "wsetargv.obj and /MANIFEST:NO on its link line; /MD refused"
