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

ok() { echo "ok $1"; }
fail() {
    echo "fail $1: $2"
    cleanup
    exit 1
}
pids=()
cleanup() { for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done; }

source "$(dirname "$0")/scenario-lib.sh"  # waitfor

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

# --- No notification area yet: the error box; OK, or a stop request, ends with code 0.
findbox() {
    box=$(xdotool search --onlyvisible --name '^Le Tallimer Internet$' 2>/dev/null | head -1)
    [ -n "$box" ] && ! xwininfo -id "$box" | grep -q 'Width: 315$'
}
for how in ok sigterm; do
    "${french[@]}" "$app" 2>"$1/run0-$how.log" &
    main=$!
    pids+=($main)
    box=""
    waitfor findbox || fail tray-refused "no error box without a notification area"
    if [ $how = ok ]; then
        import -window root "$artefacts/tray-refused.png"
        xdotool windowfocus --sync "$box" key Return
    else
        kill -TERM "$main"
    fi
    wait "$main"
    rc=$?
    [ "$rc" = 0 ] || fail tray-refused "exit code $rc after $how"
done
[ ! -e "$1/tallimer.inf" ] || fail tray-refused "files written by a program that never ran"
ok tray-refused

trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
    >/dev/null 2>&1 &
pids+=($!)
xdotool search --sync --classname panel >/dev/null || fail tray-host "trayer did not start"

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
