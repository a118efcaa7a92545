#!/usr/bin/env bash
# The Debian package on this machine: installed with apt-get, run as an ordinary user under
# Xvfb with a tray host, where it meters and saves into that user's data folder, then removed
# whatever happened. Run by PackageTest.cpp; prints "ok STEP", "fail STEP: why" or
# "skip: why". The machine is left as it was found.
# Usage: deb-scenario.sh DEBFILE WORKDIR          (as root)
#        deb-scenario.sh --as-user DATADIR        (inside xvfb-run, as the user)
set -u
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../shell/scenario-lib.sh" # waitfor, fail, cleanup
ms() { date +%s%3N; }

if [ "$1" = --as-user ]; then
    data="$2"
    trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
        >/dev/null 2>&1 &
    pids+=($!)
    xdotool search --sync --classname panel >/dev/null || fail tray-host "trayer did not start"
    started=$(ms)
    /usr/bin/tallimer 2>"$HOME/run.log" &
    main=$!
    pids+=($main)
    docked() {
        xwininfo -root -tree | awk '/"panel": \("panel"/ { p = 1 } p && /Le Tallimer Internet/ { f = 1 } END { exit !f }'
    }
    waitfor docked || fail run "no icon in the notification area: $(tail -3 "$HOME/run.log")"
    while [ $(($(ms) - started)) -lt 4500 ]; do sleep 0.2; done
    kill -TERM "$main"
    wait "$main"
    rc=$?
    [ "$rc" = 0 ] || fail run "exit code $rc: $(tail -3 "$HOME/run.log")"
    cmp -s /usr/share/tallimer/base.rtf "$data/base.rtf" || fail data "no copy of base.rtf in $data"
    [ -f "$data/tallimer.inf" ] || fail data "no tallimer.inf in $data"
    if ip -4 -o addr show scope global | grep -q inet; then
        [ "$(head -1 "$data/tallimer.inf" | tr -d '\r')" -gt 0 ] 2>/dev/null ||
            fail meter "nothing metered: $(head -1 "$data/tallimer.inf")"
        [ -n "$(find "$data/Comptes" -name '*.fai')" ] || fail meter "no account file"
    else
        echo "note: off line, nothing to meter"
    fi
    echo "ok run"
    cleanup
    exit 0
fi

deb="$(realpath "$1")" # apt-get takes a file only by a path with a slash
work="$2"
skip() {
    echo "skip: $1"
    exit 0
}
[ "$(id -u)" = 0 ] || skip "not root: apt-get install is refused"
command -v apt-get >/dev/null || skip "no apt-get here"
for tool in xvfb-run trayer xdotool xwininfo setpriv flock; do
    command -v $tool >/dev/null || skip "$tool is not installed"
done
# One package test at a time on the machine, whichever worktree it runs from.
exec 9>/run/lock/tallimer-deb-scenario.lock || skip "no lock file"
flock -w 240 9 || skip "another package test kept the lock"
if dpkg-query -W -f='${Status}' tallimer 2>/dev/null | grep -q "ok installed"; then
    skip "a tallimer package is installed on this machine; it is left alone"
fi

removed=0
remove() {
    [ $removed = 1 ] && return
    removed=1
    DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq -o DPkg::Lock::Timeout=60 \
        tallimer >"$work/remove.log" 2>&1 || dpkg --purge tallimer >>"$work/remove.log" 2>&1
    if dpkg-query -W -f='${Status}' tallimer 2>/dev/null | grep -q "ok installed" ||
        [ -e /usr/bin/tallimer ]; then
        echo "fail remove: $(tail -3 "$work/remove.log")"
    else
        echo "ok remove"
    fi
}
trap remove EXIT
trap 'exit 1' INT TERM

if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=60 "$deb" >"$work/install.log" 2>&1; then
    if grep -qiE "lock|permission denied|read-only file system|are you root" "$work/install.log"; then
        skip "apt-get install refused: $(grep -iE 'lock|denied|read-only|root' "$work/install.log" | head -1)"
    fi
    echo "fail install: $(tail -3 "$work/install.log")"
    exit 1
fi
for f in /usr/bin/tallimer /usr/share/tallimer/base.rtf /usr/share/tallimer/aide.html \
    /usr/share/applications/tallimer.desktop /usr/share/icons/hicolor/scalable/apps/tallimer.svg \
    /etc/xdg/autostart/tallimer.desktop; do
    [ -f "$f" ] || {
        echo "fail install: $f is missing"
        exit 1
    }
done
echo "ok install"

# An ordinary user with a home of its own, and these scripts where that user can read them
# (the source tree may be in a folder only root enters).
home="$work/home"
mkdir -p -m 700 "$home/run"
mkdir -p "$work/scripts/packaging" "$work/scripts/shell"
cp "$here/deb-scenario.sh" "$work/scripts/packaging/"
cp "$here/../shell/scenario-lib.sh" "$work/scripts/shell/"
chmod -R a+rX "$work/scripts"
chmod a+x "$work" "$(dirname "$work")"
chown -R 65534:65534 "$home"
setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$home/run" LANG=fr_FR.UTF-8 \
    timeout 90 xvfb-run -a -s '-screen 0 1024x768x24' \
    bash "$work/scripts/packaging/deb-scenario.sh" --as-user "$home/.local/share/tallimer"
exit $?
