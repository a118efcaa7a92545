#!/usr/bin/env bash
# The program on a real X server with a tray host, driven like a user would. Run inside
# xvfb-run by SmokeTest.cpp. Prints "ok STEP" or "fail STEP: why" for each step, and
# "startup-ms N" for the time from the start to the window on screen.
# Usage: smoke-scenario.sh APPDIR ARTEFACTDIR
set -u
app="$1/tallimer"
artefacts="$2"
export XDG_RUNTIME_DIR="$1/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
french=(env LANG=fr_FR.UTF-8 LC_ALL=fr_FR.UTF-8)
unset QT_QPA_PLATFORM

source "$(dirname "$0")/scenario-lib.sh"

# The main window: the program's top-level window 315 pixels wide.
mainwin() {
    for w in $(xdotool search --name '^Le Tallimer Internet$' 2>/dev/null); do
        if xwininfo -id "$w" 2>/dev/null | grep -q 'Width: 315$'; then
            echo "$w"
            return 0
        fi
    done
    return 1
}
mapstate() { xwininfo -id "$1" 2>/dev/null | sed -n 's/.*Map State: //p'; }
# The tray icon: the program's window docked inside trayer's panel.
trayicons() {
    xwininfo -root -tree | awk '
        { indent = match($0, /[^ ]/) }
        /"panel": \("panel"/ { panel = indent; next }
        panel && indent <= panel { panel = 0 }
        panel && /Le Tallimer Internet/ { print $1 }'
}
ms() { date +%s%3N; }

# --- No notification area yet (under a window manager, as on a desktop without one): an
# ordinary window that stays shown, minimizes to the taskbar, meters, and whose icon joins
# the notification area once one appears.
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
pids+=($wm)
waitfor 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail no-tray "no window manager"
started=$(ms)
"${french[@]}" "$app" 2>"$1/run0.log" &
main=$!
pids+=($main)
waitfor 'mainwin' || fail no-tray "no main window"
W=$(mainwin)
# Well past the moment it hides where there is a notification area, and past the first poll
# of the addresses, so the picture shows a connection being metered.
while [ $(($(ms) - started)) -lt 4000 ]; do sleep 0.2; done
[ "$(mapstate "$W")" = IsViewable ] || fail no-tray "the window went away: $(mapstate "$W")"
import -window root "$artefacts/no-tray-window.png" || fail no-tray "no screenshot"
xdotool windowminimize "$W"
waitfor 'xprop -id $W WM_STATE | grep -q "window state: Iconic"' ||
    fail no-tray "the window manager's minimize did not leave it in the taskbar"
"${french[@]}" "$app" 2>"$1/run0b.log" || fail no-tray "the second copy failed"
waitfor '[ "$(mapstate $W)" = IsViewable ]' || fail no-tray "a second start does not bring it back"
kill "$wm"
wait "$wm" 2>/dev/null
ok no-tray

trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
    >/dev/null 2>&1 &
pids+=($!)
xdotool search --sync --classname panel >/dev/null || fail tray-host "trayer did not start"
waitfor '[ -n "$(trayicons)" ]' || fail tray-later "no icon once a notification area appeared"
ok tray-later

# On line from the start (an address other than 127.0.0.1), it has been metering all along.
while [ $(($(ms) - started)) -lt 4500 ]; do sleep 0.2; done
kill -TERM "$main"
wait "$main"
rc=$?
[ "$rc" = 0 ] || fail no-tray-meter "exit code $rc"
if ip -4 -o addr show scope global | grep -q inet; then
    [ "$(head -1 "$1/tallimer.inf" | tr -d '\r')" -gt 0 ] 2>/dev/null ||
        fail no-tray-meter "nothing metered: $(head -1 "$1/tallimer.inf" 2>&1)"
    ok no-tray-meter
else
    echo "note: off line, nothing to meter"
    ok no-tray-meter
fi
rm -f "$1/tallimer.inf"

# --- First run: hides after its first show, the tray menu restores it.
start=$(ms)
"${french[@]}" "$app" 2>"$1/run1.log" &
main=$!
pids+=($main)
waitfor 'mainwin' || fail shown "no main window"
echo "startup-ms $(($(ms) - start))"
W=$(mainwin)
waitfor '[ "$(mapstate $W)" = IsUnMapped ]' || fail hidden "still $(mapstate "$W") after the first show"
ok hidden
waitfor '[ -n "$(trayicons)" ]' || fail tray-icon "no icon in the notification area"
[ "$(trayicons | wc -l)" = 1 ] || fail tray-icon "$(trayicons | wc -l) icons"
ok tray-icon
icon=$(trayicons)

before=$(xdotool search --onlyvisible --classname tallimer | sort)
xdotool mousemove --window "$icon" 11 11 click 3
menu=""
findmenu() {
    menu=$(comm -13 <(echo "$before") <(xdotool search --onlyvisible --classname tallimer | sort) |
        grep -v -x "$icon" | head -1)
    [ -n "$menu" ]
}
waitfor findmenu || fail menu "no menu after a right click on the icon"
ok menu
# "&Restaurer" is the first item.
xdotool mousemove --window "$menu" 30 12 click 1
waitfor '[ "$(mapstate $W)" = IsViewable ]' || fail restore "the window stays $(mapstate "$W")"
ok restore
sleep 0.5
import -window root "$artefacts/main-window-fr.png" && ok screenshot

kill -TERM "$main"
wait "$main"
rc=$?
[ "$rc" = 0 ] || fail sigterm "exit code $rc"
[ -f "$1/tallimer.inf" ] || fail sigterm "no tallimer.inf after SIGTERM"
ok sigterm

# --- Second run: a second start shows the hidden window and ends with code 0.
"${french[@]}" "$app" 2>"$1/run2.log" &
main=$!
pids+=($main)
waitfor 'mainwin && [ "$(mapstate $(mainwin))" = IsUnMapped ] && [ -n "$(trayicons)" ]' ||
    fail second-start "the first copy did not come up hidden"
W=$(mainwin)
"${french[@]}" "$app" 2>"$1/run3.log"
rc=$?
[ "$rc" = 0 ] || fail second-start "the second copy ended with $rc"
waitfor '[ "$(mapstate $W)" = IsViewable ]' || fail second-start "the window stays hidden"
[ "$(trayicons | wc -l)" = 1 ] || fail second-start "$(trayicons | wc -l) icons"
kill -0 "$main" || fail second-start "the first copy ended"
ok second-start

kill -TERM "$main"
wait "$main"
cleanup
exit 0
