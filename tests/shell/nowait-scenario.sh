#!/usr/bin/env bash
# A running invoice that cannot be written at a connection's end, on a real X server with a
# tray host, in a private network namespace: the error box waits for nobody, the totals are
# saved, the next connection is metered, and SIGTERM with the box open ends the program within
# a second, the user's own dialog open too, its totals saved. Run by NamespaceTest.cpp as
#   xvfb-run -a unshare -n -m bash nowait-scenario.sh APPDIR
# Exits 77 when the machine refuses what the scenario needs. Prints "ok STEP" or
# "fail STEP: why".
set -u
dir="$1"
app="$dir/tallimer"

source "$(dirname "$0")/scenario-lib.sh"
private_namespace
total() { head -n 1 "$dir/Comptes/$1.fai" 2>/dev/null | tr -d '\r'; }
overall() { head -n 1 "$dir/tallimer.inf" 2>/dev/null | tr -d '\r'; }
ms() { date +%s%3N; }
online() {
    ip link add veth0 type veth peer name veth1 || fail "$1" "no link"
    ip addr add 192.0.2.10/24 dev veth0
    ip link set veth0 up
}
# Error boxes: top-level windows of the program titled as it is, other than the main window.
boxes() {
    for w in $(xdotool search --onlyvisible --name '^Le Tallimer Internet$' 2>/dev/null); do
        xwininfo -id "$w" 2>/dev/null | grep -q 'Width: 315$' || echo "$w"
    done
}

export XDG_RUNTIME_DIR="$dir/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM
trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
    >/dev/null 2>&1 &
pids+=($!)
xdotool search --sync --classname panel >/dev/null || fail tray "trayer did not start"
# The connection is named after the default route's absence: the account has the empty name.
"$app" 2>"$dir/program.log" &
main=$!
pids+=($main)
waitfor 'xdotool search --name "^Le Tallimer Internet$"' || fail start "no window"
ok start

online first
waitfor '[ -n "$(total "")" ]' || fail first "no metered connection after the link came up"
sleep 2.2
# From here the running invoice cannot be written: nothing can replace a folder.
rm -f "$dir/temp.rtf"
mkdir "$dir/temp.rtf"
ip link del veth0
waitfor '[ "$(total "")" -ge 1000 ]' || fail first "the account file shows $(total "") ms"
first=$(total "")
waitfor '[ -n "$(boxes)" ]' || fail first "no error box: $(cat "$dir/program.log")"
ok first

online second
# Past the next poll, then a few ticks.
sleep 5
kill -0 "$main" 2>/dev/null || fail second "the program ended"
[ -n "$(boxes)" ] || fail second "the error box went away"
ok second

# The user's own dialog open too: the settings, from the icon's menu ("Ré&glages").
shown() { xdotool search --onlyvisible --classname tallimer 2>/dev/null | sort; }
before=$(shown)
icon=$(xwininfo -root -tree | awk '
    { indent = match($0, /[^ ]/) }
    /"panel": \("panel"/ { panel = indent; next }
    panel && indent <= panel { panel = 0 }
    panel && /Le Tallimer Internet/ { print $1 }')
[ -n "$icon" ] || fail dialog "no icon in the notification area"
xdotool mousemove --window "$icon" 11 11 click 3
waitfor '[ "$(comm -13 <(echo "$before") <(shown) | wc -l)" -ge 1 ]' || fail dialog "no menu"
xdotool key g
waitfor 'xdotool search --onlyvisible --name "^Règlages des comptes$"' || fail dialog "no settings dialog"
ok dialog
started=$(ms)
kill -TERM "$main"
waitfor '! kill -0 $main' || fail sigterm "still running 10 s after SIGTERM"
took=$(($(ms) - started))
wait "$main"
rc=$?
[ "$rc" = 0 ] || fail sigterm "exit code $rc"
[ "$took" -lt 1000 ] || fail sigterm "it took $took ms to end"
[ "$(total "")" -ge $((first + 1000)) ] ||
    fail sigterm "the second connection is not in the account: $first then $(total "") ms"
[ "$(overall)" = "$(total "")" ] || fail sigterm "overall $(overall), account $(total "")"
ok "sigterm $took ms"
cleanup
exit 0
