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

# Runs "tamsor HELPER ARGS..." in a fresh pane under bash, which waits for
# it and prints its exit status; the pane stays on screen in any case.
start() {
  tmux_ kill-server 2>/dev/null || true
  case_no=$((case_no + 1))
  tmux_ start-server \; set -g remain-on-exit on \; \
    new-session -d -s test -x 100 -y 30 \
    bash -c '"$@"; echo "EXIT=$?"' bash "$tamsor" "$helper" "$@"
}

wall() { screen | sed -n 's/^wall  *\([0-9.]*\) s$/\1/p'; }

# 1. One Ctrl+C: the child dies, the timer reports and exits 0.
start println started sleep 5
wait_for started 5 || fail "the child did not start"
tmux_ send-keys -t test C-c
status=$(wait_exit 5) || fail "the timer did not finish after Ctrl+C"
[ "$status" = 0 ] || fail "exit status $status after Ctrl+C"
screen | grep -q "^sys  " || fail "no report after Ctrl+C"
awk -v w="$(wall)" 'BEGIN { exit !(w < 4) }' || fail "the child outlived Ctrl+C"
echo "ok: Ctrl+C ends the child; report shown, exit 0 (wall $(wall) s)"

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
