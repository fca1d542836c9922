#!/usr/bin/env bash
# Ctrl+C in a real terminal: tmux runs a script in a pane, send-keys types
# the interrupt, capture-pane reads what a user would see. Untimed and timed
# alike, the script must stop: its shell sees the command die of SIGINT.
# Usage: terminal-test.sh TAMSOR HELPER
set -euo pipefail
tamsor=$1
helper=$2
command -v tmux >/dev/null || { echo "tmux is not installed"; exit 77; }

# Each run gets a server on a socket of its own: a new server on the socket
# of one just killed may find it still going away.
run_no=0
tmux_() { tmux -L "tamsor-test-$$-$run_no" "$@"; }
cleanup() {
  for ((n = 0; n <= run_no; n++)); do
    tmux -L "tamsor-test-$$-$n" kill-server 2>/dev/null || true
  done
}
trap cleanup EXIT

screen() { tmux_ capture-pane -p -t test; }
fail() {
  echo "FAIL: $1"
  echo "--- pane:"
  screen
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

# How the pane's script ended, "signal N" or "status N"; nothing while it
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

# Waits up to $1 seconds for the script to end; prints how it ended.
wait_ended() {
  local deadline=$((SECONDS + $1)) how
  until how=$(ended) && [ -n "$how" ]; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
  echo "$how"
}

for timer in untimed timed; do
  command=("$helper" println started sleep 5)
  [ "$timer" = untimed ] || command=("$tamsor" "${command[@]}")
  run_no=$((run_no + 1))
  # A pane of its own, which stays on screen once its script has ended.
  tmux_ start-server \; set -g remain-on-exit on \; \
    new-session -d -s test -x 100 -y 30 \
    bash -c '"$@"; echo "the script went on"' bash "${command[@]}"
  wait_for started 5 || fail "$timer: the child did not start"
  tmux_ send-keys -t test C-c
  how=$(wait_ended 5) || fail "$timer: the script did not end after Ctrl+C"
  ! screen | grep -q "went on" || fail "$timer: the script went on after Ctrl+C"
  [ "$how" = "signal 2" ] || fail "$timer: the script ended by $how, not by SIGINT"
done
wall=$(screen | sed -n 's/^wall  *\([0-9.]*\) s$/\1/p')
[ -n "$wall" ] || fail "no report after Ctrl+C"
awk -v w="$wall" 'BEGIN { exit !(w < 4) }' || fail "the child outlived Ctrl+C"
echo "ok: Ctrl+C stops a script, timed as untimed; report shown (wall $wall s)"
