#!/usr/bin/env bash
# Benchmarks tamsor against GNU time, bash's `time` keyword and hyperfine
# on this machine, and prints Markdown tables with each target met or
# missed. Not a test: figures depend on the machine and its load.
#
#   apt-get install -y cmake g++ musl-tools time hyperfine   # wine: optional
#   bench/run.sh [RUNS]                            # RUNS: own-cost rounds (1000)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000}
out=build-bench
mkdir -p "$out"

cmake -S . -B "$out" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out" >/dev/null
g++ -O2 -std=c++17 bench/spawn-time.cc -o "$out/spawn-time"
# The floor a timer is measured against, built as tamsor is (Release,
# static), and the cheapest child there is.
g++ -O3 -DNDEBUG -std=c++17 -static bench/vfork-timer.cc -o "$out/vfork-timer"
gcc -nostdlib -static bench/exit0.S -o "$out/exit0"
# The same minimal timer against musl, as tamsor is where musl-tools is:
# what any timer costs on this machine beyond the floor.
musl_probe=()
musl_specs=$(ls /usr/lib/*-linux-musl/musl-gcc.specs 2>/dev/null | head -1)
if [ -n "$musl_specs" ]; then
  g++ -O3 -DNDEBUG -std=c++17 -specs="$musl_specs" -nostdinc++ -fno-exceptions \
    -c bench/vfork-timer.cc -o "$out/vfork-timer-musl.o"
  gcc -specs="$musl_specs" -static "$out/vfork-timer-musl.o" -o "$out/vfork-timer-musl"
  musl_probe=(-- "$PWD/$out/vfork-timer-musl" "$PWD/$out/exit0")
fi
# Static, so that its own start-up stays small beside a 1 ms sleep.
g++ -O2 -std=c++17 -static tests/helper.cc -o "$out/helper"
tamsor=$PWD/$out/tamsor
helper=$PWD/$out/helper
st=$PWD/$out/spawn-time
probe=$PWD/$out/vfork-timer
exit0=$PWD/$out/exit0

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
  "tamsor $(file -b "$tamsor" | grep -o '[a-z]* linked'), $(stat -c %s "$tamsor") bytes;" \
  "Linux $(uname -r); GNU time $(dpkg-query -W -f='${Version}' time);" \
  "$(hyperfine --version)"
echo

echo "## Own cost: each tool runs a no-libc exit(0), $runs rounds (ms)"
echo
echo "Every round runs each command once, in turn, starting with the next one"
echo "each time. A tool's own cost is the median over the rounds of its run"
echo "minus the bare child's run in the same round. The floor is the bare"
echo "child's whole run: one process start and exit, the least a timer that"
echo "is itself a process can add."
echo
echo "| command | median | min | max | own cost | x floor | x probe | x GNU time |"
echo "|---|---|---|---|---|---|---|---|"
mapfile -t lines < <("$st" --runs "$runs" -- "$exit0" \
  -- "$probe" "$exit0" -- "$tamsor" "$exit0" \
  -- /usr/bin/time -f "" "$exit0" -- bash -c 'time "$0"' "$exit0" \
  "${musl_probe[@]}")
floor=$(field median "${lines[0]}")
probe_cost=$(field cost "${lines[1]}")
gnu_cost=$(field cost "${lines[3]}")
names=("bare exit0 (the floor)" "probe: static glibc vfork + execvp + wait4" "tamsor" \
  "GNU time" "bash -c 'time exit0'")
[ ${#musl_probe[@]} -eq 0 ] || names+=("probe built against musl")
for i in "${!names[@]}"; do
  line=${lines[$i]}
  cost=$(field cost "$line")
  if [ -z "$cost" ]; then
    echo "| ${names[$i]} | $(field median "$line") | $(field min "$line") | $(field max "$line") | - | - | - | - |"
  else
    echo "| ${names[$i]} | $(field median "$line") | $(field min "$line") |" \
      "$(field max "$line") | $cost | $(calc "$cost / $floor" 2) |" \
      "$(calc "$cost / $probe_cost" 2) |" \
      "$(calc "$cost / $gnu_cost" 2) |"
  fi
done
tamsor_cost=$(field cost "${lines[2]}")
vs_floor=$(calc "$tamsor_cost / $floor" 3)
vs_probe=$(calc "$tamsor_cost / $probe_cost" 3)
vs_gnu=$(calc "$tamsor_cost / $gnu_cost" 3)
echo
echo "hyperfine, a harness rather than a wrapper, gives exit0 a mean of" \
  "$(hyperfine_mean_ms "$runs" "$exit0") ms."
echo
echo "Target tamsor's own cost <= 1.3x the floor: $vs_floor," \
  "$(verdict "$vs_floor <= 1.3")."
echo "Target tamsor's own cost <= 1.05x the probe's: $vs_probe," \
  "$(verdict "$vs_probe <= 1.05")."
echo "Target tamsor's own cost <= 0.65x GNU time's: $vs_gnu," \
  "$(verdict "$vs_gnu <= 0.65")."
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
  x86_64-w64-mingw32-g++-posix -O2 -static bench/batch-probe.cc \
    -o "$win/batch-probe.exe"
  export WINEPREFIX=$PWD/$win/wineprefix WINEDEBUG=-all
  # The server and its services for the whole section, started with none
  # of the measured runs' pipes open: started by a run, they would hold its
  # output open until they exit, seconds later.
  # (One still running from an earlier run serves as well.)
  mkdir -p "$WINEPREFIX"
  wineserver -p 60 </dev/null >/dev/null 2>&1 || true
  wineboot --init >/dev/null 2>&1 || true
  exe=$PWD/$win/tamsor.exe
  child=$PWD/$win/tests/tamsor_helper.exe
  probe_exe=$PWD/$win/batch-probe.exe
  w=$("$st" --runs 20 -- wine "$child")
  t=$("$st" --runs 20 -- wine "$exe" "$child")
  echo "| command, 20 runs | median (ms) | min | max |"
  echo "|---|---|---|---|"
  echo "| wine tamsor_helper.exe | $(field median "$w") | $(field min "$w") | $(field max "$w") |"
  echo "| wine tamsor.exe tamsor_helper.exe | $(field median "$t") | $(field min "$t") | $(field max "$t") |"
  echo
  echo "tamsor.exe adds $(calc "$(field median "$t") - $(field median "$w")") ms" \
    "under Wine (a second Wine process start; reported, not targeted)."
  # A program and a batch file, each against a probe that only starts it
  # (a batch file: the system's cmd.exe on its absolute path) and waits,
  # with and without a job of its own, in interleaved rounds; tamsor's cost
  # beside the probe's is its finding of the file and assembling of its
  # line, besides its own start, and the job's is the --job probe's.
  mkdir -p "$win/batch"
  printf '@rem\r\n' >"$win/batch/t.bat"
  cp "$child" "$win/batch/h.exe"
  for target in h.exe t.bat; do
    mapfile -t b < <(cd "$win/batch" &&
      "$st" --runs 40 -- wine "$probe_exe" "$target" \
        -- wine "$probe_exe" --job "$target" -- wine "$exe" "$target")
    echo
    echo "| $target, 40 rounds | median (ms) | min | max | cost beside the probe (ms) |"
    echo "|---|---|---|---|---|"
    echo "| wine batch-probe.exe $target | $(field median "${b[0]}") |" \
      "$(field min "${b[0]}") | $(field max "${b[0]}") | - |"
    echo "| wine batch-probe.exe --job $target | $(field median "${b[1]}") |" \
      "$(field min "${b[1]}") | $(field max "${b[1]}") | $(field cost "${b[1]}") |"
    echo "| wine tamsor.exe $target | $(field median "${b[2]}") |" \
      "$(field min "${b[2]}") | $(field max "${b[2]}") | $(field cost "${b[2]}") |"
  done
  echo
  echo "A cost is the median of the rounds' differences from the probe's plain"
  echo "run; reported, not targeted."
  wineserver -k
else
  echo "Wine or mingw-w64 is not installed; skipped."
fi
