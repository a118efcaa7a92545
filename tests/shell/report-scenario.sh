#!/usr/bin/env bash
# The command line and the session bus against the real program metering a real link, in a
# private network namespace with a private session bus and a stand-in NetworkManager on a
# private system bus: run as
#   unshare -n -m bash report-scenario.sh APPDIR
# The program has no runtime folder of its own; another user holds a lock and a socket where
# it might have looked. NetworkManager is stopped for 3 s as the connection starts. Exits 77
# when the machine refuses what the scenario needs. Prints "ok STEP" or "fail STEP: why".
set -u
dir="$1"
app="$dir/tallimer"
here="$(cd "$(dirname "$0")" && pwd)"

source "$here/scenario-lib.sh"
private_namespace
ip link add veth0 type veth peer name veth1 2>/dev/null || exit 77
for tool in dbus-daemon dbus-send setpriv strace sha256sum; do
    command -v "$tool" >/dev/null || exit 77
done

private_session_bus bus
dbus-daemon --session --nofork --address="unix:path=$dir/run/system" >/dev/null 2>&1 &
pids+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/run/system"
waitfor '[ -S "$dir/run/system" ]' || fail bus "no private system bus"
/usr/bin/python3 "$here/nm-stand-in.py" "Club Internet" &
nm=$!
pids+=($nm)
waitfor 'dbus-send --system --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetNameOwner string:org.freedesktop.NetworkManager' ||
    fail bus "no NetworkManager stand-in"
# Club Internet's time credit: 0,74 € for the first hour. Unnamed, 24 s would cost 6,40 €.
mkdir -p "$dir/Comptes"
printf '%s\r\n' 0 0 0 0 0.266667 3600000 0.5 0.74 0 0 0 0 0 '0 0' '2099 1 1' 1 \
    >"$dir/Comptes/Club Internet.fai"

# Another user's lock, held, and socket, answering forged figures, where the shared
# temporary folder would have held the program's own.
export TMPDIR="$dir/tmp"
mkdir -p -m 1777 "$TMPDIR"
chmod 755 "$dir"
setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 "$here/intruder.py" \
    "$TMPDIR" "$(id -u)" "$dir/" >"$dir/intruder.out" 2>&1 &
pids+=($!)
waitfor 'grep -q ready "$dir/intruder.out"' || fail intruder "$(cat "$dir/intruder.out")"

run() { env -u XDG_RUNTIME_DIR "$@"; }
env -u XDG_RUNTIME_DIR QT_QPA_PLATFORM=offscreen "$app" 2>"$dir/program.log" &
main=$!
pids+=($main)
# The commands as a status bar runs them: no display of any kind.
cli() { run env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$app" "$@"; }
bus() {
    dbus-send --session --print-reply --dest=org.example.tallimer /org/example/tallimer "$@"
}
property() { bus org.freedesktop.DBus.Properties.Get string:org.example.tallimer.Session "string:$1"; }
# Every file of the data folder with its bytes' checksum; the runtime folders are not data.
checksum() {
    find "$dir" \( -path "$dir/run" -o -path "$dir/tmp" \) -prune -o -type f -printf '%P\n' |
        sort | while IFS= read -r f; do printf '%s %s\n' "$f" "$(sha256sum <"$dir/$f")"; done
}

waitfor 'property EnLigne' || fail bus "the service is not on the bus: $(cat "$dir/program.log")"
kill -0 "$main" || fail intruder "the program ended: $(cat "$dir/program.log")"
[ "$(cli --ligne)" = "hors ligne" ] || fail intruder "--ligne says « $(cli --ligne) »"
property EnLigne | grep -q "boolean false" || fail offline "EnLigne: $(property EnLigne)"
ok intruder

# NetworkManager stops as the link comes up: the connection waits for its name.
kill -STOP "$nm"
ip addr add 192.0.2.10/24 dev veth0
ip link set veth0 up
sleep 3
kill -CONT "$nm"
line='^[0-9]{2}:[0-9]{2}:[0-9]{2} · 0,74 €$'
# The first tick counts the time waited and charges the credit.
waitfor 'cli --ligne | grep -qE "$line"' || fail slow-nm "--ligne says « $(cli --ligne) »"
report=$(cli --rapport) || fail slow-nm "--rapport ended with $?"
grep -qE '^Connexion en cours : compte « Club Internet », [0-9:]+ pour 0,74 €, tarif normal$' \
    <<<"$report" || fail slow-nm "no Club Internet connection in: $report"
ok slow-nm

# waybar's custom module reads its command's output a line at a time, each a JSON document.
cli --rapport --json >"$dir/../metering.json" || fail json "--json ended with $?"
[ "$(wc -l <"$dir/../metering.json")" = 1 ] || fail json "$(wc -l <"$dir/../metering.json") lines"
/usr/bin/python3 -c 'import json, sys
for line in open(sys.argv[1]):
    d = json.loads(line)
    assert d["class"] == "en-ligne" and d["text"].endswith("0,74 €"), d["text"]
    assert d["connexion_en_cours"]["compte"] == "Club Internet"' "$dir/../metering.json" 2>&1 ||
    fail json "$(cat "$dir/../metering.json")"
property EnLigne | grep -q "boolean true" || fail json "EnLigne: $(property EnLigne)"
property Ligne | grep -qE 'string "[0-9]{2}:[0-9]{2}:[0-9]{2} · 0,74 €"' || fail json "$(property Ligne)"
ok json

# waybar itself, under a compositor without a screen, runs the command as the README says and
# shows its text; the compositor refuses root, the bar does not.
if command -v sway >/dev/null && command -v waybar >/dev/null &&
    /usr/bin/python3 -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null; then
    mkdir -p -m 700 "$dir/wayland"
    chown 65534:65534 "$dir/wayland"
    printf 'output HEADLESS-1 resolution 640x480\n' >"$dir/sway.conf"
    env -i PATH="$PATH" HOME="$dir/wayland" XDG_RUNTIME_DIR="$dir/wayland" WLR_BACKENDS=headless \
        WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
        setpriv --reuid=65534 --regid=65534 --clear-groups sway -c "$dir/sway.conf" \
        >"$dir/../sway.log" 2>&1 &
    pids+=($!)
    waitfor '[ -S "$dir/wayland/wayland-1" ]' || fail waybar "sway: $(cat "$dir/../sway.log")"
    printf '{"modules-left": ["custom/tallimer"], "custom/tallimer": {"exec": "%s --rapport --json", "return-type": "json", "interval": 1}}\n' \
        "$app" >"$dir/../waybar.json"
    env -u QT_QPA_PLATFORM WAYLAND_DISPLAY="$dir/wayland/wayland-1" GDK_BACKEND=wayland \
        waybar -c "$dir/../waybar.json" >"$dir/../waybar.log" 2>&1 &
    pids+=($!)
    shown() { /usr/bin/python3 "$here/bar-labels.py" waybar 2>/dev/null; }
    waitfor 'shown | grep -qE "$line"' ||
        fail waybar "the bar shows « $(shown) »: $(tail -5 "$dir/../waybar.log")"
    ok waybar
fi

# Sixteen clients that never end their request: the line still shows the connection.
socket="$TMPDIR/tallimer-$(id -u)/tallimer-$(id -u).socket"
[ -S "$socket" ] || fail idle "no socket in the private folder: $(ls -la "$TMPDIR")"
/usr/bin/python3 "$here/idle-clients.py" "$socket" >"$dir/idle.out" 2>&1 &
idle=$!
pids+=($idle)
waitfor 'grep -q ready "$dir/idle.out"' || fail idle "$(cat "$dir/idle.out")"
cli --ligne | grep -qE "$line" || fail idle "--ligne says « $(cli --ligne) »"
kill "$idle"
ok idle

# The journal is held in WAL mode by the program: the report reads it without a lock, a side
# file or a byte changed.
[ -e "$dir/journal.sqlite-wal" ] || fail wal "no WAL beside the journal: $(ls "$dir")"
before=$(checksum)
# A leak checker cannot run under a tracer: the sanitized build's is left out here.
run strace -f -qq -e trace=flock,fcntl,openat -o "$dir/../trace" env -u DISPLAY \
    -u QT_QPA_PLATFORM ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    "$app" --rapport >/dev/null || fail wal "--rapport ended with $?"
after=$(checksum)
[ "$before" = "$after" ] || fail wal "the folder changed: $(diff <(echo "$before") <(echo "$after"))"
if grep -E 'flock\(|F_SETLK|F_OFD_SETLK|sqlite-shm|O_WRONLY|O_RDWR' "$dir/../trace" | grep -v ENOENT; then
    fail wal "locks or writes taken"
fi
ok wal

ip link del veth0
waitfor '[ "$(cli --ligne)" = "hors ligne" ]' || fail offline-again "--ligne: $(cli --ligne)"
waitfor 'property EnLigne | grep -q "boolean false"' || fail offline-again "$(property EnLigne)"
ok offline-again

kill -TERM "$main"
wait "$main" || fail sigterm "exit code $?"
# The program stopped: the commands read what it left and write nothing.
before=$(checksum)
report=$(cli --rapport) || fail stopped "--rapport ended with $?"
cli --rapport --json >"$dir/../rapport.json" || fail stopped "--json ended with $?"
[ "$(cli --ligne)" = "hors ligne" ] || fail stopped "--ligne: $(cli --ligne)"
after=$(checksum)
[ "$before" = "$after" ] || fail stopped "the folder changed: $(diff <(echo "$before") <(echo "$after"))"
grep -qE '^  Dernière connexion : le [0-9/]+ à [0-9:]+, [0-9:]+ pour 0,74 €$' \
    <<<"$report" || fail stopped "no last connection in: $report"
grep -q '^Aucune connexion en cours.$' <<<"$report" || fail stopped "$report"
ok stopped

# Both reports against the published schema, where python3-jsonschema is installed.
schema="$here/../../packaging/rapport.schema.json"
if /usr/bin/python3 -c 'import jsonschema' 2>/dev/null; then
    for f in metering rapport; do
        /usr/bin/python3 -c 'import json, sys, jsonschema
jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))' \
            "$dir/../$f.json" "$schema" 2>&1 || fail schema "$f.json: $(cat "$dir/../$f.json")"
    done
    ok schema
fi
cleanup
exit 0
