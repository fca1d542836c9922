#!/usr/bin/env bash
# Builds the commit checked out (HEAD) twice, from two clones in folders of
# different depth, and checks that tamsor.exe, the zip, the Linux program,
# the tarball and the .deb come out byte for byte the same, with the
# commit's time on the packaged files.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(realpath -m "${1:-build-repro}")
unset SOURCE_DATE_EPOCH  # the commit's time, as a release build takes it
rm -rf "$work"
commit=$(git rev-parse HEAD)
for copy in a b/deeper; do
  src=$work/$copy/tamsor
  git clone -q --shared --no-checkout "$PWD" "$src"
  git -C "$src" checkout -q "$commit"
  cmake -S "$src" -B "$src/build" -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$src/build" -j 2 >/dev/null
  (cd "$src/build" && cpack -G "TGZ;DEB" >/dev/null)
  cmake -S "$src" -B "$src/build-win" --toolchain cmake/mingw-w64.cmake \
    -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$src/build-win" -j 2 >/dev/null
  (cd "$src/build-win" && cpack -G ZIP >/dev/null)
done
cd "$work/a/tamsor"
files=$(ls build-win/tamsor.exe build-win/tamsor-*-win64.zip build/tamsor \
  build/tamsor-*-linux-*.tar.gz build/tamsor_*.deb)
for file in $files; do
  cmp "$file" "$work/b/deeper/tamsor/$file" || { echo "$file differs"; exit 1; }
done
# Every file of the tarball bears the commit's time.
stamp=$(date -u -d "@$(git log -1 --format=%ct)" '+%Y-%m-%d %H:%M:%S')
times=$(TZ=UTC tar --full-time -tvzf build/tamsor-*.tar.gz | awk '{ print $4 " " $5 }' | sort -u)
[ "$times" = "$stamp" ] || { echo "the tarball's file times are $times, not the commit's $stamp"; exit 1; }
echo "reproducible: built twice, the same bytes:" $files "(file times: the commit's)"
