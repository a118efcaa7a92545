#!/usr/bin/env bash
# Minimizing the main window from the title bar, with a window manager (openbox, which shows a
# minimize button whatever the hints say) or without one. Run inside xvfb-run by
# WindowManagerTest.cpp. Prints "ok STEP" or "fail STEP: why".
# With a window manager it also leaves pictures of the small dialogs with their title bars.
# Usage: wm-scenario.sh APPDIR ARTEFACTDIR openbox|none SHOW_DIALOG
set -u
app="$1/tallimer"
artefacts="$2"
wm="$3"
show_dialog="$4"
export XDG_RUNTIME_DIR="$1/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
french=(env LANG=fr_FR.UTF-8 LC_ALL=fr_FR.UTF-8)
unset QT_QPA_PLATFORM

source "$(dirname "$0")/scenario-lib.sh"

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
# The window's top-level ancestor: the manager's frame, or the window itself without one.
toplevel() {
    local w=$1 root parent
    root=$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')
    while :; do
        parent=$(xwininfo -id "$w" -tree 2>/dev/null | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p')
        [ -z "$parent" ] || [ "$((parent))" = "$((root))" ] && break
        w=$parent
    done
    printf '0x%x\n' "$((w))"
}
wmstate() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/.*window state: //p'; }

if [ "$wm" = openbox ]; then
    openbox --sm-disable >/dev/null 2>&1 &
    pids+=($!)
    waitfor 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
        fail wm "openbox did not start"
fi
trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
    >/dev/null 2>&1 &
pids+=($!)
xdotool search --sync --classname panel >/dev/null || fail tray-host "trayer did not start"

"${french[@]}" "$app" 2>"$1/run-$wm.log" &
main=$!
pids+=($main)
waitfor mainwin || fail shown "no main window"
W=$(mainwin)
waitfor '[ "$(mapstate $W)" = IsUnMapped ]' || fail hidden "still $(mapstate "$W") after the first show"
# A second start shows the window.
"${french[@]}" "$app" 2>/dev/null || fail shown "the second start failed"
waitfor '[ "$(mapstate $W)" = IsViewable ]' || fail shown "the window stays $(mapstate "$W")"
sleep 0.3
ok shown

frame=$(toplevel "$W")
xdotool windowminimize "$W"
if [ "$wm" = openbox ]; then
    # The window goes to the notification area: neither it nor an empty frame stays.
    waitfor '[ "$(mapstate $W)" = IsUnMapped ]' || fail minimize "the window stays $(mapstate "$W")"
    waitfor '[ "$(mapstate $frame)" != IsViewable ]' ||
        fail minimize "the frame $frame stays on screen"
    sleep 0.5
    [ "$(mapstate "$frame")" != IsViewable ] || fail minimize "the frame came back"
    [ "$(wmstate "$W")" != Iconic ] || fail minimize "left iconic, not hidden"
    import -window root "$artefacts/minimized-openbox.png"
else
    # Nobody iconifies: the window stays as it was, whole.
    sleep 0.5
    [ "$(mapstate "$W")" = IsViewable ] || fail minimize "the window went $(mapstate "$W")"
fi
ok minimize

"${french[@]}" "$app" 2>/dev/null || fail restore "the second start failed"
waitfor '[ "$(mapstate $W)" = IsViewable ]' || fail restore "the window stays $(mapstate "$W")"
frame=$(toplevel "$W")
waitfor '[ "$(mapstate $frame)" = IsViewable ]' || fail restore "the frame stays $(mapstate "$frame")"
[ "$wm" = none ] || [ "$(wmstate "$W")" = Normal ] || fail restore "state $(wmstate "$W")"
sleep 0.5
import -window root "$artefacts/restored-$wm.png"
ok restore

kill -TERM "$main"
wait "$main"

if [ "$wm" = openbox ]; then
    for d in "prix:Modification d'un prix:price-dialog" \
        "confirmation:Confirmation de sortie:exit-confirmation"; do
        IFS=: read -r which caption picture <<<"$d"
        "${french[@]}" "$show_dialog" "$which" 2>/dev/null &
        shown=$!
        pids+=($shown)
        waitfor "xdotool search --onlyvisible --name \"^$caption\$\"" ||
            fail dialogs "no window \"$caption\""
        sleep 0.5
        # The dialog in its frame, title bar included.
        f=$(toplevel "$(xdotool search --onlyvisible --name "^$caption\$" | head -1)")
        geometry=$(xwininfo -id "$f" | awk '/Absolute upper-left X/ {x = $NF}
            /Absolute upper-left Y/ {y = $NF} /Width:/ {w = $NF} /Height:/ {h = $NF}
            END {printf "%dx%d+%d+%d", w + 2, h + 2, x, y}')
        import -window root -crop "$geometry" "$artefacts/$picture-openbox.png"
        kill "$shown"
    done
    ok dialogs
fi
cleanup
exit 0
