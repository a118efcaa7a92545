# Shared by the scenario scripts (sourced).

# Results as the test reads them; a failure kills what the scenario started (pids).
ok() { echo "ok $1"; }
pids=()
cleanup() { for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done; }
fail() {
    echo "fail $1: $2"
    cleanup
    exit 1
}

# Inside `unshare -n -m`: a private /sys for the namespace's links and a loopback that is up.
# Exits 77 when the machine refuses it.
private_namespace() {
    mount --make-rprivate / 2>/dev/null || exit 77
    mount -t sysfs none /sys 2>/dev/null || exit 77
    ip link set lo up 2>/dev/null || exit 77
}

# Polls a condition for up to 10 s.
waitfor() {
    for _ in $(seq 100); do
        if eval "$1" >/dev/null 2>&1; then return 0; fi
        sleep 0.1
    done
    return 1
}

# A session bus of the scenario's own under $dir/run, for the program and the stand-ins;
# $1 names the step a failure is reported as.
private_session_bus() {
    export XDG_RUNTIME_DIR="$dir/run"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    dbus-daemon --session --nofork --address="unix:path=$XDG_RUNTIME_DIR/bus" >/dev/null 2>&1 &
    pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
    waitfor '[ -S "$XDG_RUNTIME_DIR/bus" ]' || fail "$1" "no private session bus"
}

# The far end of the link, veth1, in a network namespace of its own ($peer); `there CMD` runs a
# command in it. No IPv6 chatter: the link carries the test's bytes and little else. Exits 77
# when the machine refuses it.
there() { nsenter -t "$peer" -n "$@"; }
far_end() {
    unshare -n sleep 300 &
    peer=$!
    pids+=($peer)
    waitfor '[ "$(readlink /proc/$peer/ns/net)" != "$(readlink /proc/self/ns/net)" ]' || exit 77
    ip link set veth1 netns "$peer" || exit 77
    local noipv6='f=/proc/sys/net/ipv6/conf/$0/disable_ipv6; [ ! -e "$f" ] || echo 1 >"$f"'
    sh -c "$noipv6" veth0
    there sh -c "$noipv6" veth1
}
