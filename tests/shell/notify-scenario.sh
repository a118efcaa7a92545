#!/usr/bin/env bash
# A budget alert reaching a real notification daemon (dunst) on a private session bus, on an
# X server with no notification area: the program meters a connection whose fee takes the
# period's cost past 80 % of the budget; the daemon must receive that alert once, word for
# word, and not again after a restart. Run inside xvfb-run and dbus-run-session by
# SmokeTest.cpp. Prints "ok STEP", "fail STEP: why" or "skip: why".
# MODE "xembed": with trayer, the message beside the icon; "sni": with a StatusNotifier
# watcher, the icon's message through the daemon.
# Usage: notify-scenario.sh APPDIR ARTEFACTDIR [no-tray|xembed|sni]
set -u
dir="$1"
app="$dir/tallimer"
artefacts="$2"
mode="${3:-no-tray}"
here="$(dirname "$0")"
export XDG_RUNTIME_DIR="$dir/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
french=(env LANG=fr_FR.UTF-8 LC_ALL=fr_FR.UTF-8)
unset QT_QPA_PLATFORM

skip() {
    echo "skip: $1"
    cleanup
    exit 0
}
source "$here/scenario-lib.sh"

ip -4 -o addr show scope global | grep -q inet || skip "off line: nothing would be metered"
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || fail setup "no private session bus"

# NetworkManager on a bus of our own, so the connection has a name the alerts are set for.
name="Fournisseur Été"
dbus-daemon --session --nofork --address="unix:path=$dir/system_bus" >/dev/null 2>&1 &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/system_bus"
waitfor '[ -S "$dir/system_bus" ]' || fail setup "no system bus"
/usr/bin/python3 "$here/nm-stand-in.py" "$name" 2>"$dir/nm.log" &
pids+=($!)
waitfor 'gdbus call --system -d org.freedesktop.NetworkManager -o /org/freedesktop/NetworkManager \
    -m org.freedesktop.DBus.Properties.Get org.freedesktop.NetworkManager PrimaryConnection' ||
    fail setup "the NetworkManager stand-in did not start: $(tail -2 "$dir/nm.log")"

# Whatever the daemon receives, one record per notification.
received="$dir/received"
: >"$received"
cat >"$dir/record.sh" <<EOF
#!/bin/sh
printf '%s|%s|%s\n' "\$DUNST_APP_NAME" "\$DUNST_SUMMARY" "\$DUNST_BODY" >>'$received'
EOF
chmod +x "$dir/record.sh"
cat >"$dir/dunstrc" <<EOF
[global]
    font = DejaVu Sans 10
    width = 420
    origin = top-right
    offset = 10x10
    markup = no
[record]
    summary = "*"
    script = $dir/record.sh
EOF
dunst -config "$dir/dunstrc" >"$dir/dunst.log" 2>&1 &
pids+=($!)
# Asked without starting one: the bus would start another dunst, with no record kept.
owned() {
    gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.NameHasOwner "$1" | grep -q true
}
waitfor 'owned org.freedesktop.Notifications' || fail setup "dunst did not start: $(tail -2 "$dir/dunst.log")"

# The period ends today, so the estimate to its end is the cost so far. The connection's
# fee of 0,74 € takes 15,50 € to 16,24 €, past 80 % of 20 €.
read -r year month day <<<"$(date '+%Y %-m %-d')"
mkdir -p "$dir/Comptes"
printf '%s\r\n' 0 15.5 0 0 0.266667 3600000 0.5 0.74 0 0 0 0 0 "1 1" "$year $month $day" 1 \
    >"$dir/Comptes/$name.fai"
printf '%s\t0\t20\t-1\t0\t0\r\n' "$name" >"$dir/alertes.inf"

case "$mode" in
xembed)
    trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
        >/dev/null 2>&1 &
    pids+=($!)
    xdotool search --sync --classname panel >/dev/null || fail setup "trayer did not start"
    ;;
sni)
    /usr/bin/python3 "$here/sni-watcher-stand-in.py" >"$dir/watcher.log" 2>&1 &
    pids+=($!)
    waitfor 'owned org.kde.StatusNotifierWatcher' || fail setup "no StatusNotifier watcher"
    ;;
esac

"${french[@]}" "$app" 2>"$dir/run1.log" &
main=$!
pids+=($main)
# The program's own French: a no-break space before ":" and "%".
nbsp=$'\xc2\xa0'
body="80${nbsp}% du budget de la période${nbsp}: 16,24 € sur 20,00 €. Estimation à la fin de la période${nbsp}: 16,24 €."

if [ "$mode" = xembed ]; then
    # Qt draws a balloon of its own beside an XEmbed icon: the daemon hears nothing.
    balloon() {
        for w in $(xdotool search --onlyvisible --classname tallimer); do
            width=$(xwininfo -id "$w" | sed -n 's/.*Width: //p')
            [ "$width" -gt 100 ] && [ "$width" != 315 ] && return 0
        done
        return 1
    }
    for _ in $(seq 9); do
        waitfor balloon && break
    done
    balloon || fail alert "no balloon beside the icon: $(tail -3 "$dir/run1.log")"
    sleep 1
    [ ! -s "$received" ] || fail alert "the daemon received: $(cat "$received")"
    ok alert
    import -window root "$artefacts/budget-notification-tray.png" || fail screenshot "no screenshot"
    ok screenshot
    kill -TERM "$main"
    wait "$main"
    cleanup
    exit 0
fi

# The alerts are looked at each minute of the connection.
for _ in $(seq 9); do
    waitfor '[ -s "$received" ]' && break
done
[ -s "$received" ] || fail alert "nothing received: $(tail -3 "$dir/run1.log")"
[ "$(cut -d'|' -f2- "$received")" = "Le Tallimer Internet|$body" ] ||
    fail alert "received: $(cat "$received")"
if [ "$mode" = sni ]; then
    # Through the icon, not past it.
    grep -q "^item " "$dir/watcher.log" || fail alert "the icon never joined the watcher"
    [ "$(cut -d'|' -f1 "$received")" != Tallimer ] || fail alert "sent past the icon"
else
    [ "$(cut -d'|' -f1 "$received")" = Tallimer ] || fail alert "received: $(cat "$received")"
fi
ok alert

waitfor '[ "$(dunstctl count displayed)" = 1 ]' || fail screenshot "not on screen"
sleep 0.5
shot=budget-notification.png
[ "$mode" = sni ] && shot=budget-notification-sni.png
import -window root "$artefacts/$shot" || fail screenshot "no screenshot"
ok screenshot
if [ "$mode" = sni ]; then
    kill -TERM "$main"
    wait "$main"
    cleanup
    exit 0
fi

kill -TERM "$main"
wait "$main"
rc=$?
[ "$rc" = 0 ] || fail once "exit code $rc"

# A restart charges another fee (16,98 €, still under the budget): nothing more to say.
account="$dir/Comptes/$name.fai"
"${french[@]}" "$app" 2>"$dir/run2.log" &
main=$!
pids+=($main)
# The minute's save, which the alerts are looked at right after.
for _ in $(seq 12); do
    waitfor 'sed -n 2p "$account" | grep -q "^16\.98"' && break
done
sed -n 2p "$account" | grep -q '^16\.98' || fail once "cost after the restart: $(sed -n 2p "$account")"
sleep 2
[ "$(wc -l <"$received")" = 1 ] || fail once "received again: $(cat "$received")"
kill -0 "$main" || fail once "the program ended"
kill -TERM "$main"
wait "$main"
ok once
cleanup
exit 0
