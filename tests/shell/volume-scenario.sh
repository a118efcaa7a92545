#!/usr/bin/env bash
# A connection billed by volume, for real: in a private network namespace, on an X server
# whose notification area speaks StatusNotifier (its watcher stood in for), the program meters
# an account with a volume tariff (1 Mo included, 2 € per Mo beyond, a time credit of 0,74 €)
# while 3 MB go over a socket to another namespace across the link. The journal's volume lies
# within the link's own counters, the invoice line is the credit plus the volume's price, the
# volume file holds the period's bytes and the icon's hint shows the volume. Run by
# NamespaceTest.cpp as
#   xvfb-run -a unshare -n -m bash volume-scenario.sh APPDIR
# Exits 77 when the machine refuses what the scenario needs. Prints "ok STEP" or
# "fail STEP: why".
set -u
dir="$1"
app="$dir/tallimer"
here="$(dirname "$0")"
py=/usr/bin/python3

source "$here/scenario-lib.sh"
private_namespace
ip link add veth0 type veth peer name veth1 2>/dev/null || exit 77
command -v dbus-daemon >/dev/null && command -v nsenter >/dev/null || exit 77
"$py" -c 'import gi, sqlite3' 2>/dev/null || exit 77

far_end
there ip addr add 192.0.2.20/24 dev veth1
there ip link set veth1 up

private_session_bus setup
"$py" "$here/sni-watcher-stand-in.py" >"$dir/watcher.log" 2>&1 &
pids+=($!)
waitfor 'gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
    -m org.freedesktop.DBus.NameHasOwner org.kde.StatusNotifierWatcher | grep -q true' ||
    fail setup "no StatusNotifier watcher"

# The unnamed account (no NetworkManager here), billed far ahead: a time credit of an hour
# paid at the start, then nothing per second; its volume tariff set before the start.
mkdir -p "$dir/Comptes"
printf '%s\r\n' 0 0 0 0 0 3600000 0 0.74 0 0 0 0 0 '1 1' '2099 1 1' 1 >"$dir/Comptes/.fai"
serial() { "$py" -c 'import datetime as d, sys; print((d.date(*map(int, sys.argv[1:])) - d.date(1899, 12, 30)).days)' "$@"; }
# Its alerts said already (this period's and today's): an alert would lend the icon's tooltip
# its own title for a while.
printf '\t1000000\t2\t0\t1\t0\t%s\t0\t0\t0\t%s\t0\t7\r\n' "$(serial 2099 1 1)" \
    "$(serial $(date '+%Y %-m %-d'))" >"$dir/volume.inf"

unset QT_QPA_PLATFORM
LANG=fr_FR.UTF-8 LC_ALL=fr_FR.UTF-8 "$app" 2>"$dir/program.log" &
main=$!
pids+=($main)
waitfor 'grep -q "^item " "$dir/watcher.log"' || fail start "the icon never joined the watcher"
item=$(awk '/^item / {print $3; exit}' "$dir/watcher.log")
hint() {
    "$py" - "$item" <<'EOF'
import sys
from gi.repository import Gio, GLib
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
reply = bus.call_sync(sys.argv[1], "/StatusNotifierItem", "org.freedesktop.DBus.Properties",
                      "Get", GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", "ToolTip")),
                      None, 0, 2000, None)
print(reply.unpack()[0][2], end="")
EOF
}
[ "$(hint)" = "Le tallimer internet" ] || fail start "the hint off line: « $(hint) »"
ok start

counter() { echo $(($(cat /sys/class/net/veth0/statistics/rx_bytes) + $(cat /sys/class/net/veth0/statistics/tx_bytes))); }
before=$(counter)
ip addr add 192.0.2.10/24 dev veth0
ip link set veth0 up
ip route add default via 192.0.2.20 dev veth0
cli() { env -u DISPLAY "$app" "$@"; }
waitfor '[ "$(cli --ligne)" != "hors ligne" ]' || fail online "not metered: $(cli --ligne)"
ok online

# 3 MB to the far end, which says how many bytes it received.
there "$py" -c '
import socket
s = socket.create_server(("192.0.2.20", 5000))
print("listening", flush=True)
c, _ = s.accept()
n = 0
while True:
    d = c.recv(65536)
    if not d:
        break
    n += len(d)
print(n, flush=True)' >"$dir/received" 2>&1 &
pids+=($!)
waitfor 'grep -q listening "$dir/received"' || fail send "no listener: $(cat "$dir/received")"
"$py" -c '
import socket
s = socket.create_connection(("192.0.2.20", 5000), timeout=20)
s.sendall(b"v" * 3000000)
s.shutdown(socket.SHUT_WR)
s.recv(1)
s.close()' || fail send "the bytes could not be sent"
waitfor '[ "$(tail -n 1 "$dir/received")" = 3000000 ]' || fail send "received: $(cat "$dir/received")"
ok send

# The hint follows the display, which a tick's bytes reach at the next tick: two ticks after
# the last byte, it shows them all.
sleep 2.2
shows_volume() {
    shown=$(hint)
    local pattern=$'^Le tallimer internet\n[0-9]{2}:[0-9]{2}:[0-9]{2} · [0-9]+,[0-9]{2} € · [0-9]+(,[0-9])? Mo$'
    [[ "$shown" =~ $pattern ]]
}
waitfor shows_volume || fail hint "the hint on line: « $shown »"
ok hint

# The link goes down: the connection ends at the next poll with its invoice line.
ip link set veth0 down
lines() { grep -oE ', [0-9]{2}:[0-9]{2}:[0-9]{2}\\tab [0-9:]+\\tab [0-9]+,[0-9]{2}' "$dir/temp.rtf" 2>/dev/null; }
waitfor '[ "$(lines | wc -l)" = 1 ]' || fail offline "$(lines | wc -l) invoice lines: $(tail -c 200 "$dir/temp.rtf")"
after=$(counter)
waitfor '[ "$(hint)" = "Le tallimer internet" ]' || fail offline "the hint off line: « $(hint) »"
ok offline
kill -TERM "$main"
wait "$main" || fail sigterm "exit code $?: $(tail -c 3000 "$dir/program.log")"

# What the program kept, against the link's own counters and the tariff.
"$py" - "$dir" "$before" "$after" "$(lines | sed 's/.*\\tab //')" "$shown" <<'EOF' || exit 1
import sqlite3, sys
from decimal import Decimal, ROUND_HALF_UP
folder, before, after, amount, shown = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
def fail(step, why):
    print("fail %s: %s" % (step, why))
    sys.exit(1)
db = sqlite3.connect("file:%sjournal.sqlite?mode=ro" % folder, uri=True)
rows = db.execute("SELECT volume_bytes, volume_cost, cost, credit_ms FROM connections").fetchall()
if len(rows) != 1:
    fail("journal", "rows: %r" % rows)
volume, volume_cost, cost, credit_ms = rows[0]
if not 3000000 <= volume <= after - before:
    fail("journal", "volume %d, the link moved %d" % (volume, after - before))
print("ok journal %d of %d" % (volume, after - before))

# 1 Mo included, 2 per Mo beyond, after the 0,74 credit; the line rounds the journal's figure
# as the program rounds, half away from zero from its exact binary value.
beyond = max(0, volume - 1000000) * 2 / 1000000
if credit_ms <= 0 or abs(volume_cost - beyond) > 1e-4 or abs(cost - 0.74 - beyond) > 1e-4:
    fail("invoice", "cost %r, volume cost %r for %d bytes" % (cost, volume_cost, volume))
if str(Decimal(cost).quantize(Decimal("0.01"), ROUND_HALF_UP)).replace(".", ",") != amount:
    fail("invoice", "the line says %s for %r" % (amount, cost))
print("ok invoice " + amount)

fields = open(folder + "volume.inf", "rb").read().split(b"\t")
if len(fields) != 13 or int(fields[7]) != volume or int(fields[9]) != volume:
    fail("volume.inf", repr(fields))
print("ok volume.inf")

# The hint's volume is the journal's, in the program's French units.
text = shown.rsplit(" · ", 1)[1]
mo = Decimal(volume) / 1000000
figure = mo.quantize(Decimal("0.1") if mo < 10 else Decimal("1"), ROUND_HALF_UP)
if text != (str(figure).replace(".", ",").replace(",0", "") + " Mo"):
    fail("hint", "%s for %d bytes" % (text, volume))
print("ok hint-volume")
EOF
cleanup
exit 0
