#!/usr/bin/env bash
# Going on line and off line for real, in a private network namespace: run as
#   unshare -n -m bash netns-scenario.sh APPDIR
# Exits 77 when the machine refuses what the scenario needs. Prints "ok STEP" or
# "fail STEP: why".
set -u
dir="$1"
app="$dir/tallimer"

source "$(dirname "$0")/scenario-lib.sh"
private_namespace
ip link add veth0 type veth peer name veth1 2>/dev/null || exit 77
fail() {
    echo "fail $1: $2"
    kill -9 "$main" 2>/dev/null
    exit 1
}
accounts() { find "$dir/Comptes" -name '*.fai' -type f; }  # ".fai" for the empty name
firstline() { head -n 1 "$(accounts | head -n 1)" | tr -d '\r'; }
# Connection lines of the running invoice: each has its stamp "dd mmm yy, hh:mm:ss".
lines() { grep -oE ', [0-9]{2}:[0-9]{2}:[0-9]{2}' "$dir/temp.rtf" 2>/dev/null | wc -l; }

export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$dir/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
"$app" 2>"$dir/program.log" &
main=$!
# Off line (loopback only) for a couple of polls: nothing is metered.
sleep 2.5
[ -z "$(accounts)" ] || fail offline "an account was written while off line"
kill -0 "$main" 2>/dev/null || fail offline "the program ended: $(cat "$dir/program.log")"
echo "ok offline"

ip addr add 192.0.2.10/24 dev veth0
ip link set veth0 up
waitfor '[ -n "$(accounts)" ]' || fail online "no metered connection after the link came up"
echo "ok online"

# Two ticks: the first of a connection measures nothing.
sleep 2.2
# Another address, faster than a poll, with no NetworkManager to tell another connection:
# the same connection goes on (two polls later, still no line).
ip addr del 192.0.2.10/24 dev veth0
ip addr add 198.51.100.20/24 dev veth0
sleep 4.5
[ "$(lines)" = 0 ] || fail address "$(lines) invoice lines after an address change"
echo "ok address"
# A dial-up link disappears at hang-up.
ip link del veth0
waitfor '[ "$(firstline)" -ge 4000 ]' ||
    fail offline-again "the account file shows $(firstline) ms after the link went down"
waitfor '[ "$(lines)" = 1 ]' || fail offline-again "$(lines) invoice lines after the link went down"
echo "ok offline-again $(firstline)"

kill -TERM "$main"
wait "$main"
rc=$?
[ "$rc" = 0 ] || fail sigterm "exit code $rc"
echo "ok sigterm"
