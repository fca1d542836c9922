#!/usr/bin/env bash
# Ctrl+C in a real terminal: tmux runs the timer in a pane, send-keys types
# the interrupt, capture-pane reads what a user would see.
# Usage: terminal-test.sh TAMSOR HELPER
set -euo pipefail
tamsor=$1
helper=$2
command -v tmux >/dev/null || { echo "tmux is not installed"; exit 77; }

# Each case gets a server on a socket of its own: a new server on the socket
# of one just killed may find it still going away.
case_no=0
tmux_() { tmux -L "tamsor-test-$$-$case_no" "$@"; }
cleanup() {
  for ((n = 0; n <= case_no; n++)); do
    tmux -L "tamsor-test-$$-$n" kill-server 2>/dev/null || true
  done
}
trap cleanup EXIT

screen() { tmux_ capture-pane -p -t test; }
fail() {
  echo "FAIL: $1"
  echo "--- pane:"
  screen
  ps -eo pid,ppid,stat,wchan:20,args | grep -E "[t]amsor" || true
  exit 1
}

# Waits up to $2 seconds for the pane to show the pattern $1.
wait_for() {
  local deadline=$((SECONDS + $2))
  until screen | grep -q -- "$1"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

# Waits up to $1 seconds for the timer to end; prints its exit status.
wait_exit() {
  wait_for "^EXIT=" "$1" || return 1
  screen | sed -n 's/^EXIT=//p'
}

running() { ! screen | grep -q "^EXIT="; }

# A fresh server with one pane, 100x30, that stays on screen when its
# process ends, running COMMAND...
open_pane() {
  tmux_ kill-server 2>/dev/null || true
  case_no=$((case_no + 1))
  tmux_ start-server \; set -g remain-on-exit on \; \
    new-session -d -s test -x 100 -y 30 "$@"
}

# Runs "tamsor HELPER ARGS..." in a fresh pane under bash, which waits for
# it and prints its exit status.
start() {
  open_pane bash -c '"$@"; echo "EXIT=$?"' bash "$tamsor" "$helper" "$@"
}

# Runs a script in a fresh pane: COMMAND..., then an echo.
start_script() {
  open_pane bash -c '"$@"; echo "the script went on"' bash "$@"
}

# How the pane's process ended, "signal N" or "status N"; nothing while it
# runs. tmux may be slow to reap it, so its zombie's exit code is read too.
ended() {
  local how pid stat code
  how=$(tmux_ display -p -t test \
    '#{?pane_dead_signal,signal #{pane_dead_signal},}#{?pane_dead_status,status #{pane_dead_status},}')
  if [ -z "$how" ]; then
    pid=$(tmux_ display -p -t test '#{pane_pid}')
    stat=$(sed 's/.*) //' "/proc/$pid/stat" 2>/dev/null) || return 0
    read -r -a stat <<<"$stat"
    [ "${stat[0]}" = Z ] || return 0
    code=${stat[49]}  # the 52nd field: the wait status
    how=$( ((code & 127)) && echo "signal $((code & 127))" || echo "status $((code >> 8))")
  fi
  echo "$how"
}

# Waits up to $1 seconds for the pane's process to end; prints how it ended.
wait_dead() {
  local deadline=$((SECONDS + $1)) how
  until how=$(ended) && [ -n "$how" ]; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
  echo "$how"
}

wall() { screen | sed -n 's/^wall  *\([0-9.]*\) s$/\1/p'; }

# 1. One Ctrl+C ends a script that runs the command, untimed and timed
# alike: the shell sees its command die of SIGINT. Timed, the report is
# out first.
for timer in untimed timed; do
  command=("$helper" println started sleep 5)
  [ "$timer" = untimed ] || command=("$tamsor" "${command[@]}")
  start_script "${command[@]}"
  wait_for started 5 || fail "$timer: the child did not start"
  tmux_ send-keys -t test C-c
  ended=$(wait_dead 5) || fail "$timer: the script did not end after Ctrl+C"
  ! screen | grep -q "went on" || fail "$timer: the script went on after Ctrl+C"
  [ "$ended" = "signal 2" ] || fail "$timer: the script ended by $ended, not by SIGINT"
done
screen | grep -q "^sys  " || fail "no report after Ctrl+C"
awk -v w="$(wall)" 'BEGIN { exit !(w < 4) }' || fail "the child outlived Ctrl+C"
echo "ok: Ctrl+C stops a script, timed as untimed; report shown (wall $(wall) s)"

# 2. A child that ignores SIGINT: two Ctrl+C and the timer keeps waiting.
start ignore INT println started sleep 3 println finished
wait_for started 5 || fail "the child did not start"
tmux_ send-keys -t test C-c
sleep 0.5
tmux_ send-keys -t test C-c
sleep 0.5
running || fail "the timer ended while its child ran"
status=$(wait_exit 10) || fail "the timer did not finish"
screen | grep -q "finished$" || fail "the child did not finish by itself"
[ "$status" = 0 ] || fail "exit status $status after ignored Ctrl+C"
awk -v w="$(wall)" 'BEGIN { exit !(w >= 2.9) }' || fail "wall too short"
echo "ok: two Ctrl+C, child ignores them; timer waited (wall $(wall) s)"
