#!/usr/bin/env bash
# Benchmarks tamsor against GNU time, bash's `time` keyword and hyperfine
# on this machine, and prints Markdown tables with each target met or
# missed. Not a test: figures depend on the machine and its load.
#
#   apt-get install -y cmake g++ time hyperfine   # wine: optional
#   bench/run.sh [RUNS]                            # RUNS: overhead runs (1000)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000}
out=build-bench
mkdir -p "$out"

cmake -S . -B "$out" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out" >/dev/null
g++ -O2 -std=c++17 bench/spawn-time.cc -o "$out/spawn-time"
# Static, so that its own start-up stays small beside a 1 ms sleep.
g++ -O2 -std=c++17 -static tests/helper.cc -o "$out/helper"
tamsor=$PWD/$out/tamsor
helper=$PWD/$out/helper
st=$PWD/$out/spawn-time

field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }
calc() { awk "BEGIN { printf \"%.${2:-3}f\", $1 }"; }
verdict() { awk "BEGIN { exit !($1) }" && echo met || echo missed; }
hyperfine_mean_ms() {  # RUNS COMMAND...
  local json
  json=$(mktemp)
  hyperfine -N --warmup 3 --runs "$1" --export-json "$json" "${*:2}" >/dev/null 2>&1
  sed -n 's/.*"mean": *\([0-9.e-]*\).*/\1/p' "$json" | head -1 |
    awk '{ printf "%.3f", $1 * 1000 }'
  rm -f "$json"
}

echo "# tamsor benchmark"
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'); $(nproc) cores," \
  "$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1);" \
  "Linux $(uname -r); GNU time $(dpkg-query -W -f='${Version}' time);" \
  "$(hyperfine --version)"
echo

echo "## Overhead: wall time of TOOL /bin/true, $runs runs, outside measurement (ms)"
echo
echo "| tool | median | min | max | x bare | x GNU time |"
echo "|---|---|---|---|---|---|"
bare=$("$st" --runs "$runs" -- /bin/true)
gnu=$("$st" --runs "$runs" -- /usr/bin/time -f "" /bin/true)
bare_median=$(field median "$bare")
gnu_median=$(field median "$gnu")
row() {  # NAME RESULT
  local m
  m=$(field median "$2")
  echo "| $1 | $m | $(field min "$2") | $(field max "$2") |" \
    "$(calc "$m / $bare_median" 2) | $(calc "$m / $gnu_median" 2) |"
}
row "bare /bin/true" "$bare"
mine=$("$st" --runs "$runs" -- "$tamsor" /bin/true)
row "tamsor" "$mine"
row "GNU time" "$gnu"
row "bash -c 'time /bin/true'" \
  "$("$st" --runs "$runs" -- bash -c 'time /bin/true')"
row "bash -c /bin/true (bash alone)" \
  "$("$st" --runs "$runs" -- bash -c /bin/true)"
echo
echo "hyperfine, a harness rather than a wrapper, gives /bin/true a mean of" \
  "$(hyperfine_mean_ms "$runs" /bin/true) ms."
ratio=$(calc "$(field median "$mine") / $gnu_median" 2)
echo
echo "Target tamsor <= 0.90x GNU time: $ratio, $(verdict "$ratio <= 0.90")."
echo

echo "## Wall accuracy: sleep S, reported wall against the outside measurement (ms)"
echo
echo "Each tool runs the same sleeps, S to S + 0.9 ms in steps of 0.1 ms, so"
echo "that the rounding of three-decimal figures averages out in the mean"
echo "offset (tamsor's figure minus the outside measurement of the same run)."
echo "tamsor's cost is the outside median of \`tamsor sleep\` minus that of a"
echo "bare \`sleep\`."
echo
echo "| sleep | runs | bare sleep, outside | tamsor sleep, outside | tamsor's figure | offset mean | offset min..max | tamsor's cost | GNU time | bash time | hyperfine mean | target |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
for s in 0.05 0.2 1; do
  n=$(awk -v s="$s" 'BEGIN { print (s < 1) ? 20 : 10 }')
  sweep=(--runs "$n" --sweep "$s" 0.0001)
  bare=$("$st" "${sweep[@]}" -- sleep {})
  r=$("$st" "${sweep[@]}" --grab wall -- "$tamsor" sleep {})
  g=$("$st" "${sweep[@]}" --grab gnutime -- /usr/bin/time -f "gnutime %e" sleep {})
  b=$("$st" "${sweep[@]}" --grab bashtime -- \
    bash -c 'TIMEFORMAT="bashtime %3R"; time sleep "$0"' {})
  h=$(hyperfine_mean_ms "$n" sleep "$s")
  mean=$(field offset_mean "$r")
  echo "| $s | $n | $(field median "$bare") | $(field median "$r") |" \
    "$(field reported_median "$r") | $mean |" \
    "$(field offset_min "$r")..$(field offset_max "$r") |" \
    "$(calc "$(field median "$r") - $(field median "$bare")") |" \
    "$(field reported_median "$g") | $(field reported_median "$b") | $h |" \
    "$(verdict "$mean >= -1 && $mean <= 1") |"
done
echo

echo "## CPU accuracy: a helper spins about 1 s and prints its own getrusage"
echo
echo "| run | helper's own user+sys (ms) | tamsor real (ms) | user + sys (ms) | difference | target (1%) |"
echo "|---|---|---|---|---|---|"
for run in 1 2 3 4 5; do
  text=$("$tamsor" "$helper" spin 1 cpu)
  own=$(sed -n 's/^cpu_ms=//p' <<<"$text")
  ms() { sed -n "s/^$1 *\([0-9.]*\) s$/\1/p" <<<"$text" | awk '{ printf "%d", $1 * 1000 + 0.5 }'; }
  real=$(ms real)
  sum=$(($(ms user) + $(ms sys)))
  diff=$(calc "($real - $own) * 100 / $own" 2)
  echo "| $run | $own | $real | $sum$([ "$sum" = "$real" ] && echo " (= real)" || echo " (NOT real)") |" \
    "$diff% | $(verdict "$diff >= -1 && $diff <= 1") |"
done
echo

echo "## Resolution: 20 runs of a 1 ms sleep (the static helper)"
echo
r=$("$st" --runs 20 --grab wall -- "$tamsor" "$helper" sleep 0.001)
echo "Reported wall: $(field distinct "$r") distinct values of 20," \
  "from $(field lowest "$r") to $(field highest "$r") ms (median" \
  "$(field reported_median "$r")): $(verdict "$(field lowest "$r") > 0 && $(field highest "$r") < 15")."
echo

echo "## Scaling: overhead with many arguments, 500 runs each (ms)"
echo
echo "| arguments | bare /bin/true median | tamsor /bin/true median | tamsor's cost |"
echo "|---|---|---|---|"
for count in 1 100 10000; do
  mapfile -t args < <(yes a | head -n "$count")
  b=$(field median "$("$st" --runs 500 -- /bin/true "${args[@]}")")
  t=$(field median "$("$st" --runs 500 -- "$tamsor" /bin/true "${args[@]}")")
  echo "| $count | $b | $t | $(calc "$t - $b") |"
done
echo

echo "## Under Wine"
echo
if command -v wine >/dev/null && command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  win=build-bench-win
  cmake -S . -B "$win" --toolchain cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$win" --target tamsor tamsor_helper >/dev/null
  export WINEPREFIX=$PWD/$win/wineprefix WINEDEBUG=-all
  wineboot --init >/dev/null 2>&1 || true
  exe=$PWD/$win/tamsor.exe
  child=$PWD/$win/tests/tamsor_helper.exe
  w=$("$st" --runs 20 -- wine "$child")
  t=$("$st" --runs 20 -- wine "$exe" "$child")
  echo "| command, 20 runs | median (ms) | min | max |"
  echo "|---|---|---|---|"
  echo "| wine tamsor_helper.exe | $(field median "$w") | $(field min "$w") | $(field max "$w") |"
  echo "| wine tamsor.exe tamsor_helper.exe | $(field median "$t") | $(field min "$t") | $(field max "$t") |"
  echo
  echo "tamsor.exe adds $(calc "$(field median "$t") - $(field median "$w")") ms" \
    "under Wine (a second Wine process start; reported, not targeted)."
else
  echo "Wine or mingw-w64 is not installed; skipped."
fi
