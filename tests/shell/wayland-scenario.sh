#!/usr/bin/env bash
# The program on Wayland, under a compositor with no screen and no notification area: it
# starts, shows its window and keeps it, and meters. Run by SmokeTest.cpp; prints "ok STEP",
# "fail STEP: why" or "skip: why".
# Usage: wayland-scenario.sh APPDIR
set -u
dir="$1"
app="$dir/tallimer"
export XDG_RUNTIME_DIR="$dir/wl-run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY QT_QPA_PLATFORM

source "$(dirname "$0")/scenario-lib.sh"
ms() { date +%s%3N; }

socket=wayland-tallimer
weston --backend=headless-backend.so --socket=$socket --idle-time=0 >"$dir/weston.log" 2>&1 &
pids+=($!)
waitfor '[ -S "$XDG_RUNTIME_DIR/$socket" ]' || fail compositor "weston did not start: $(tail -3 "$dir/weston.log")"

log="$dir/client.log"
started=$(ms)
# The client's protocol log shows what it asks of the compositor. In a sanitizer build the
# Wayland client library and the plugins unloaded at exit keep allocations of their own,
# which name no function of ours: the leak check belongs to the other runs.
env ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0"} QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=$socket WAYLAND_DEBUG=client LANG=fr_FR.UTF-8 \
    "$app" 2>"$log" &
main=$!
pids+=($main)
titled='grep -q "xdg_toplevel@[0-9]*\.set_title(\"Le Tallimer Internet\")" "$log"'
noplugin='grep -q "Could not find the Qt platform plugin" "$log"'
waitfor "$titled || $noplugin" || true
if eval "$noplugin"; then
    cleanup
    echo "skip: Qt's Wayland plugin is not installed"
    exit 0
fi
eval "$titled" ||
    fail window "no window titled \"Le Tallimer Internet\": $(grep -v '^\[' "$log" | tail -3)"
waitfor 'grep -q "wl_surface@[0-9]*\.attach(wl_buffer@" "$log"' || fail window "never drawn"
while [ $(($(ms) - started)) -lt 4500 ]; do sleep 0.2; done
kill -0 "$main" 2>/dev/null || fail window "the program ended: $(grep -v '^\[' "$log" | tail -3)"
# Hiding would take the window's role away; without a notification area it must stay.
grep -q "xdg_toplevel@[0-9]*\.destroy()" "$log" && fail window "the window was hidden"
ok window

kill -TERM "$main"
wait "$main"
rc=$?
[ "$rc" = 0 ] || fail meter "exit code $rc"
if ip -4 -o addr show scope global | grep -q inet; then
    [ "$(head -1 "$dir/tallimer.inf" | tr -d '\r')" -gt 0 ] 2>/dev/null ||
        fail meter "nothing metered: $(head -1 "$dir/tallimer.inf" 2>&1)"
else
    echo "note: off line, nothing to meter"
    [ -f "$dir/tallimer.inf" ] || fail meter "no tallimer.inf after SIGTERM"
fi
ok meter
cleanup
exit 0
