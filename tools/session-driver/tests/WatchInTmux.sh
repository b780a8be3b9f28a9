#!/bin/sh
# tracelet-log watch in a real terminal (tmux) against a live demo session in
# another process, whose scanner never returns from DAT_IMAGEINFO: the screen
# names that call as in flight in a host that runs, marks it slow, and the
# view ends on q. Once the host is killed, a frame says it is gone.
#
# WatchInTmux.sh SESSION DEMO_DS DEMO_LOG_DIR TRACELET_LOG WORK
# Exit status 77: tmux is not installed (skipped).
set -u
session=$1 ds=$2 logdir=$3 reader=$4 work=$5

command -v tmux >/dev/null 2>&1 || { echo "tmux is not installed"; exit 77; }
rm -rf "$work" && mkdir -p "$work" "$logdir" || exit 1
sock="$work/tmux.sock"
host=
cleanup() {
    tmux -S "$sock" kill-server 2>/dev/null
    [ -n "$host" ] && kill -9 "$host" 2>/dev/null
}
trap cleanup EXIT
fail() {
    echo "FAIL: $1"
    echo "--- screen:"
    tmux -S "$sock" capture-pane -p -t watch 2>/dev/null
    exit 1
}

TRACELET_SCANNER_FAULT=hang "$session" --ds "$ds" --log-dir "$logdir" --output "$work/scans" \
    >"$work/session.out" 2>&1 &
host=$!

# The view is started before the load it is to follow exists, as a person would.
tmux -S "$sock" new-session -d -s watch -x 160 -y 20 "'$reader' watch --slow-ms 500 '$logdir'" || exit 1

# Until the screen shows the hung call as slow (it starts at about one
# second into the session), at most 60 s.
seen=
for _ in $(seq 1 240); do
    screen=$(tmux -S "$sock" capture-pane -p -t watch 2>/dev/null)
    if echo "$screen" | grep -q "In flight .*DG_IMAGE/DAT_IMAGEINFO/MSG_GET .*until now (the host still runs)  SLOW"; then
        seen=1
        break
    fi
    sleep 0.25
done
[ -n "$seen" ] || fail "the screen never showed DAT_IMAGEINFO in flight and slow"
echo "$screen" | grep -q "^State     6 transfer ready" || fail "the state before the hung call is not 6"
echo "$screen" | grep -q ", running$" || fail "the host is not shown running"
echo "$screen"

tmux -S "$sock" send-keys -t watch q
for _ in $(seq 1 40); do
    tmux -S "$sock" has-session -t watch 2>/dev/null || break
    sleep 0.25
done
tmux -S "$sock" has-session -t watch 2>/dev/null && fail "q did not end the view"

kill -9 "$host" && wait "$host" 2>/dev/null
host=
frame=$("$reader" watch --once "$logdir")
echo "$frame" | grep -q "gone without unloading" || { echo "$frame"; echo "FAIL: the killed host is not gone"; exit 1; }
echo "$frame" | grep -q "In flight .*DG_IMAGE/DAT_IMAGEINFO/MSG_GET .*for at least" ||
    { echo "$frame"; echo "FAIL: the call in flight at the kill is not named"; exit 1; }
exit 0
