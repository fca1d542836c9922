#!/usr/bin/env bash
# Makes a build folder's packages and checks them from their contents,
# installing nothing:
#   check-packages.sh linux BUILD     the tarball and the .deb (lintian, its
#                                     listing, and its program run from a
#                                     copy unpacked): static, and against
#                                     musl where musl-tools is there
#   check-packages.sh windows BUILD   the zip, and the winget and Scoop
#                                     manifests rendered for it
set -euo pipefail
kind=$1
build=$(realpath "$2")
source=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The files cpack says it made, this build's version and no other.
packages() {  # GENERATORS
  (cd "$build" && cpack -G "$1") | sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p'
}

expect_files() {  # ARCHIVE FILE...
  local archive=$1 listing
  shift
  listing=$(cmake -E tar tf "$archive")
  for file in "$@"; do
    grep -qx "[^/]*/$file" <<<"$listing" || { echo "$archive lacks $file"; exit 1; }
  done
  echo "$archive: $*"
}

if [ "$kind" = windows ]; then
  zip=$(packages ZIP)
  [ -n "$zip" ] || { echo "cpack made no zip"; exit 1; }
  expect_files "$zip" tamsor.exe README.md doc/windows.md LICENSE
  exec python3 "$source/cmake/check-release.py" manifests "$zip"
fi

for tool in dpkg-shlibdeps lintian; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped"; exit 77; }
done
made=$(packages "TGZ;DEB")
tgz=$(grep '\.tar\.gz$' <<<"$made") || { echo "cpack made no tarball"; exit 1; }
deb=$(grep '\.deb$' <<<"$made") || { echo "cpack made no .deb"; exit 1; }
expect_files "$tgz" bin/tamsor \
  share/man/man1/tamsor.1.gz share/doc/tamsor/README.md share/doc/tamsor/LICENSE

if ! findings=$(lintian --fail-on error "$deb" 2>&1); then
  echo "$findings"
  exit 1
fi
grep -v "running with root privileges" <<<"$findings" || true
listing=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for file in ./usr/bin/tamsor ./usr/share/man/man1/tamsor.1.gz \
    ./usr/share/doc/tamsor/copyright ./usr/share/lintian/overrides/tamsor; do
  grep -qx -- "$file" <<<"$listing" || { echo "$deb lacks $file"; exit 1; }
done
dpkg-deb -x "$deb" "$work"
program=$work/usr/bin/tamsor
report=$("$program" /bin/true)
grep -q "^sys  *[0-9]*\.[0-9][0-9][0-9] s$" <<<"$report" ||
  { echo "the packaged tamsor printed no report: $report"; exit 1; }
file "$program" | grep -q "statically linked" || { echo "the packaged tamsor is not static"; exit 1; }
if command -v musl-gcc >/dev/null && grep -qa GLIBC "$program"; then
  echo "the packaged tamsor is built against glibc, not musl"
  exit 1
fi
# shellcheck disable=SC2016
echo "packaged: $(dpkg-deb -W --showformat='${Package} ${Version}' "$deb"), with its manual page;" \
  "usr/bin/tamsor ($(stat -c %s "$program") bytes, static) reports"
