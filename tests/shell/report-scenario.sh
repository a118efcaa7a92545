#!/usr/bin/env bash
# The command line and the session bus against the real program metering a real link, in a
# private network namespace with a private session bus: run as
#   unshare -n -m bash report-scenario.sh APPDIR
# Exits 77 when the machine refuses what the scenario needs. Prints "ok STEP" or
# "fail STEP: why".
set -u
dir="$1"
app="$dir/tallimer"

source "$(dirname "$0")/scenario-lib.sh"
private_namespace
ip link add veth0 type veth peer name veth1 2>/dev/null || exit 77
command -v dbus-daemon >/dev/null && command -v dbus-send >/dev/null || exit 77

private_session_bus bus

QT_QPA_PLATFORM=offscreen "$app" 2>"$dir/program.log" &
main=$!
pids+=($main)
# The commands as a status bar runs them: no display of any kind.
cli() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$app" "$@"; }
bus() {
    dbus-send --session --print-reply --dest=org.example.tallimer /org/example/tallimer "$@"
}
property() { bus org.freedesktop.DBus.Properties.Get string:org.example.tallimer.Session "string:$1"; }
# Every file of the data folder with its size and time; the runtime folder is not data.
listing() { find "$dir" -path "$dir/run" -prune -o -printf '%P %s %T@\n' | sort; }

waitfor 'property EnLigne' || fail bus "the service is not on the bus: $(cat "$dir/program.log")"
[ "$(cli --ligne)" = "hors ligne" ] || fail offline "--ligne says « $(cli --ligne) »"
property EnLigne | grep -q "boolean false" || fail offline "EnLigne: $(property EnLigne)"
ok offline

ip addr add 192.0.2.10/24 dev veth0
ip link set veth0 up
line='^[0-9]{2}:[0-9]{2}:[0-9]{2} · [0-9]+,[0-9]{2} €$'
waitfor '[ "$(cli --ligne)" != "hors ligne" ]' || fail online "--ligne still says hors ligne"
cli --ligne | grep -qE "$line" || fail online "--ligne says « $(cli --ligne) »"
report=$(cli --rapport) || fail online "--rapport ended with $?"
grep -qE '^Connexion en cours : compte sans nom, [0-9:]+ pour [0-9]+,[0-9]{2} €, tarif normal$' \
    <<<"$report" || fail online "no connection in progress in: $report"
cli --rapport --json >"$dir/../metering.json" || fail online "--json ended with $?"
grep -q '"en_ligne": true' "$dir/../metering.json" || fail online "--json: $(cat "$dir/../metering.json")"
property EnLigne | grep -q "boolean true" || fail online "EnLigne: $(property EnLigne)"
property Ligne | grep -qE 'string "[0-9]{2}:[0-9]{2}:[0-9]{2} · ' || fail online "$(property Ligne)"
bus org.example.tallimer.Session.Afficher >/dev/null || fail online "Afficher was refused"
kill -0 "$main" || fail online "the program ended: $(cat "$dir/program.log")"
ok online

ip link del veth0
waitfor '[ "$(cli --ligne)" = "hors ligne" ]' || fail offline-again "--ligne: $(cli --ligne)"
waitfor 'property EnLigne | grep -q "boolean false"' || fail offline-again "$(property EnLigne)"
ok offline-again

kill -TERM "$main"
wait "$main" || fail sigterm "exit code $?"
# The program stopped: the commands read what it left and write nothing.
before=$(listing)
report=$(cli --rapport) || fail stopped "--rapport ended with $?"
cli --rapport --json >"$dir/../rapport.json" || fail stopped "--json ended with $?"
[ "$(cli --ligne)" = "hors ligne" ] || fail stopped "--ligne: $(cli --ligne)"
after=$(listing)
[ "$before" = "$after" ] || fail stopped "the folder changed: $(diff <(echo "$before") <(echo "$after"))"
grep -qE '^  Dernière connexion : le [0-9/]+ à [0-9:]+, [0-9:]+ pour [0-9]+,[0-9]{2} €$' \
    <<<"$report" || fail stopped "no last connection in: $report"
grep -q '^Aucune connexion en cours.$' <<<"$report" || fail stopped "$report"
ok stopped

# Both reports against the published schema, where python3-jsonschema is installed.
schema="$(dirname "$0")/../../packaging/rapport.schema.json"
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
