#!/usr/bin/env bash
# Where a volume account's bytes go, on a mixed load over a real link: in a private network
# namespace whose default route leads to another namespace (an Internet host at 198.51.100.1
# and a NAS at 192.0.2.20 on the link's own subnet), two applications download known amounts
# over TCP and hold their connections, a program copies a known amount to the NAS, a UDP
# stream and a burst of brief connections go out. The meter of such an account (the probe,
# run as the unprivileged user nobody, load included) ticks after each part; its rows must add
# up to the link's bytes, each download be attributed within 1 %, and the copy be left out of
# the billed volume only when the account asks. Then the program itself, asked to leave the
# local network out, bills a download and not a copy. Run by NamespaceTest.cpp as
#   unshare -n -m bash app-volume-scenario.sh DIR PROBE
# where DIR holds the program. Exits 77 when the machine refuses what the scenario needs.
# Prints "ok STEP", "share ..." (the measure) or "fail STEP: why".
set -u
dir="$1"
probe="$2"
here="$(dirname "$0")"
py=/usr/bin/python3

source "$here/scenario-lib.sh"
private_namespace
ip link add veth0 type veth peer name veth1 2>/dev/null || exit 77
command -v nsenter >/dev/null && command -v setpriv >/dev/null || exit 77

far_end
there ip link set lo up
there ip addr add 192.0.2.20/24 dev veth1
there ip addr add 198.51.100.1/32 dev lo
there ip link set veth1 up
ip addr add 192.0.2.10/24 dev veth0
ip link set veth0 up
ip route add default via 192.0.2.20 dev veth0

# Everything the unprivileged user runs lies in a folder of its own.
load=$(mktemp -d /tmp/tallimer-load.XXXXXX) || exit 77
chmod 777 "$load"
cp "$probe" "$load/probe"
cat >"$load/peer.py" <<'EOF'
import socket, threading
def serve(address, handle):
    s = socket.create_server(address)
    def loop():
        while True:
            c, _ = s.accept()
            threading.Thread(target=handle, args=(c,), daemon=True).start()
    threading.Thread(target=loop, daemon=True).start()
def line(c):
    b = b""
    while not b.endswith(b"\n"):
        b += c.recv(1)
    return int(b)
def download(c):  # sends what is asked, holds the connection until the client ends it
    c.sendall(b"d" * line(c))
    while c.recv(65536):
        pass
def nas(c):  # takes what is announced, says so, holds the connection
    n, got = line(c), 0
    while got < n:
        got += len(c.recv(65536))
    c.sendall(b"k")
    while c.recv(65536):
        pass
def brief(c):
    c.sendall(b"b" * 25000)
    c.close()
serve(("198.51.100.1", 8000), download)
serve(("192.0.2.20", 8445), nas)
serve(("198.51.100.1", 8001), brief)
u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
u.bind(("198.51.100.1", 9000))
print("listening", flush=True)
while True:
    u.recv(65536)
EOF
cat >"$load/client.py" <<'EOF'
import socket, sys
what, n = sys.argv[1], int(sys.argv[2])
def hold(s):  # until the scenario lets go
    print("done", flush=True)
    sys.stdin.read()
    s.close()
if what == "fetch":
    s = socket.create_connection(("198.51.100.1", 8000))
    s.sendall(b"%d\n" % n)
    got = 0
    while got < n:
        got += len(s.recv(65536))
    hold(s)
elif what == "copy":
    s = socket.create_connection(("192.0.2.20", 8445))
    s.sendall(b"%d\n" % n + b"c" * n)
    s.recv(1)
    hold(s)
elif what == "udp":
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    for _ in range(n // 1200):
        u.sendto(b"u" * 1200, ("198.51.100.1", 9000))
    print("done", flush=True)
elif what == "brief":
    for _ in range(n):
        s = socket.create_connection(("198.51.100.1", 8001))
        while s.recv(65536):
            pass
        s.close()
    print("done", flush=True)
EOF
there "$py" "$load/peer.py" >"$load/peer.log" 2>&1 &
pids+=($!)
waitfor 'grep -q listening "$load/peer.log"' || fail setup "no peer: $(cat "$load/peer.log")"

# The two applications: each in a desktop unit of its own where cgroups can be made here,
# else a program of that name.
cg="$dir/cgroup"
scopes=""
mkdir -p "$cg"
if mount -t cgroup2 none "$cg" 2>/dev/null; then
    scopes="$cg/tallimer-scenario-$$"
    mkdir -p "$scopes/app-gnome-fetcher-11.scope" \
        "$scopes/app-flatpak-org.example.Fetcher-12.scope" 2>/dev/null || scopes=""
fi
for name in dl-one dl-two; do cp "$py" "$load/$name"; done
names="dl-one dl-two"
[ -n "$scopes" ] && names="fetcher org.example.Fetcher"
cleanup_scopes() {
    cleanup
    # A unit's group goes once its processes have.
    for _ in $(seq 50); do
        [ -z "$scopes" ] || rmdir "$scopes"/*.scope "$scopes" 2>/dev/null || { sleep 0.1; continue; }
        break
    done
    umount "$cg" 2>/dev/null
    rm -rf "$load"
}
fail() {
    echo "fail $1: $2"
    cleanup_scopes
    exit 1
}
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups -- "$@"; }
mkfifo "$load/hold"
chmod 666 "$load/hold"
# client OUT APP SCOPE ARGS...: a client of the load, as nobody, in that unit when there is one.
client() {
    local out="$1" app="$2" scope="$3"
    shift 3
    (
        exec 3>&-
        [ -n "$scopes" ] && [ -n "$scope" ] && echo $BASHPID >"$scopes/$scope/cgroup.procs"
        exec setpriv --reuid=65534 --regid=65534 --clear-groups -- "$app" "$load/client.py" "$@" \
            <"$load/hold" >"$load/$out" 2>&1
    ) &
    pids+=($!)
}
done_() { waitfor "grep -q done '$load/$1'" || fail "$2" "$1: $(cat "$load/$1")"; }

# run MODE: one connection of the probe with the whole load; its rows in $load/rows.MODE.
run() {
    local mode=$1 l
    exec 3<>"$load/hold"  # the clients hold their connections while it is open
    coproc PROBE {
        exec 3>&-
        as_nobody "$load/probe" "$mode" 2>&1
    }
    read -r -t 10 l <&"${PROBE[0]}" && [ "$l" = ready ] || fail "$mode" "the probe: $l"
    tick() {
        echo tick >&"${PROBE[1]}"
        read -r -t 30 l <&"${PROBE[0]}" && [ "$l" = ticked ] || fail "$mode" "the probe: $l"
    }
    client fetch.a "$load/dl-one" app-gnome-fetcher-11.scope fetch 8000000
    client fetch.b "$load/dl-two" app-flatpak-org.example.Fetcher-12.scope fetch 5000000
    done_ fetch.a "$mode"
    done_ fetch.b "$mode"
    tick
    client copy "$py" "" copy 6000000
    done_ copy "$mode"
    tick
    client udp "$py" "" udp 3000000
    done_ udp "$mode"
    tick
    client brief "$py" "" brief 40
    done_ brief "$mode"
    tick
    exec 3>&-
    tick
    echo rows >&"${PROBE[1]}"
    : >"$load/rows.$mode"
    while read -r -t 10 l <&"${PROBE[0]}" && [ "$l" != end ]; do echo "$l" >>"$load/rows.$mode"; done
    echo quit >&"${PROBE[1]}"
    wait "$PROBE_PID" 2>/dev/null
    rm -f "$load"/fetch.* "$load/copy" "$load/udp" "$load/brief"
}
run counted
run leave-out-local

"$py" - "$load" $names <<'EOF' || fail rows "see above"
import sys
load, one, two = sys.argv[1:4]
ok = True
def check(step, cond, why):
    global ok
    if not cond:
        print("fail %s: %s" % (step, why))
        ok = False
def read(mode):
    rows, link, billed = {}, None, None
    for l in open("%s/rows.%s" % (load, mode)):
        f = l.split()
        if f[0] == "link":
            link = (int(f[1]), int(f[2]))
        elif f[0] == "billed":
            billed = int(f[1])
        else:
            rows[" ".join(f[:-2])] = (int(f[-2]), int(f[-1]))
    return rows, link, billed
def within(got, known):
    return known <= got <= known * 1.01
for mode in ("counted", "leave-out-local"):
    rows, link, billed = read(mode)
    total = tuple(sum(r[i] for r in rows.values()) for i in (0, 1))
    check(mode, total == link, "the rows add up to %r, the link moved %r: %r" % (total, link, rows))
    for app, known in (("app " + one, 8000000), ("app " + two, 5000000)):
        got = rows.get(app, (0, 0))[0]
        check(mode, within(got, known), "%s: %d of %d" % (app, got, known))
    # The copying program, by what it sent: its name is the runner's own.
    copy = max([r[1] for k, r in rows.items() if k.startswith("app ")] + [0])
    local = rows.get("local", (0, 0))
    if mode == "counted":
        check(mode, within(copy, 6000000) and local == (0, 0), "the copy %d, local %r" % (copy, local))
        check(mode, billed == link[0] + link[1], "billed %d of %r" % (billed, link))
    else:
        check(mode, within(local[1], 6000000) and copy < 60000, "the copy %d, local %r" % (copy, local))
        check(mode, billed == link[0] + link[1] - local[0] - local[1],
              "billed %d of %r, local %r" % (billed, link, local))
    for name, (r, s) in sorted(rows.items()):
        print("row %s: %s received %d sent %d" % (mode, name, r, s))
    moved = link[0] + link[1]
    apps = sum(r[0] + r[1] for k, r in rows.items() if k.startswith("app "))
    others = sum(rows.get("others", (0, 0)))
    print("share %s: link %d bytes, applications %.1f %%, local network %.1f %%, others %.1f %%"
          % (mode, moved, 100 * apps / moved, 100 * sum(local) / moved, 100 * others / moved))
    if ok:
        print("ok " + mode)
sys.exit(0 if ok else 1)
EOF

# The program itself, its account leaving the local network out: a download is billed, a
# copy to the NAS is not.
mkdir -p "$dir/Comptes"
printf '%s\r\n' 0 0 0 0 0 0 0 0 0 0 0 0 0 '1 1' '2099 1 1' 1 >"$dir/Comptes/.fai"
printf '\t0\t0\t1\t1\t0\t0\t0\t0\t0\t0\t0\t7\t1\r\n' >"$dir/volume.inf"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$dir/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
"$dir/tallimer" 2>"$dir/program.log" &
main=$!
pids+=($main)
waitfor '[ "$(env -u DISPLAY "$dir/tallimer" --ligne)" != "hors ligne" ]' ||
    fail program "not metered: $(cat "$dir/program.log")"
counter() { echo $(($(cat /sys/class/net/veth0/statistics/rx_bytes) + $(cat /sys/class/net/veth0/statistics/tx_bytes))); }
before=$(counter)
exec 3<>"$load/hold"
client fetch.p "$py" "" fetch 4000000
client copy.p "$py" "" copy 3000000
done_ fetch.p program
done_ copy.p program
# Two ticks of the program see the bytes while the connections are held.
sleep 2.2
exec 3>&-
ip link set veth0 down
after=$(counter)
lines() { grep -oE ', [0-9]{2}:[0-9]{2}:[0-9]{2}\\tab' "$dir/temp.rtf" 2>/dev/null | wc -l; }
waitfor '[ "$(lines)" = 1 ]' || fail program "no line at the connection's end"
kill -TERM "$main"
wait "$main" || fail program "exit code $?: $(tail -c 2000 "$dir/program.log")"
"$py" - "$dir" "$before" "$after" <<'EOF' || fail program "see above"
import sqlite3, sys
folder, moved = sys.argv[1], int(sys.argv[3]) - int(sys.argv[2])
db = sqlite3.connect("file:%s/journal.sqlite?mode=ro" % folder, uri=True)
(volume,), = db.execute("SELECT volume_bytes FROM connections").fetchall()
if not 4000000 <= volume <= moved - 3000000:
    print("fail program: billed %d of %d moved" % (volume, moved))
    sys.exit(1)
print("ok program %d of %d" % (volume, moved))
EOF
cleanup_scopes
exit 0
