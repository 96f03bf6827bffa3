#!/bin/sh
# SPDX-License-Identifier: ISC
# lifecycle.sh DEB STANDIN: the package's whole life on a host that runs
# systemd, as an operator lives it: a container booted with systemd-nspawn
# (its own /etc and /var, with this machine's package database, and this
# machine's /usr laid under a writable layer), where dpkg installs the
# package, the timer is enabled and runs, then an upgrade to a package
# whose unit changed, during a run, an install again over it, a remove
# during a run, an install after the remove, and a purge.  The runs in
# progress wait at the stand-in's gate (STANDIN, preloaded into memglow).  After each step: the units' states, the journal and
# the files left.  Says SKIPPED and why where the machine cannot boot a
# container, and passes.
set -u
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
if [ "$(id -u)" -ne 0 ]; then
	echo "SKIPPED: the package's life under systemd: booting a container needs root"
	exit 0
elif ! command -v systemd-nspawn >/dev/null 2>&1; then
	echo "SKIPPED: the package's life under systemd: no systemd-nspawn here (systemd-container)"
	exit 0
fi
tmp=$(mktemp -d) || exit 1
nspawn=
# shellcheck disable=SC2317 # called by the trap
cleanup() {
	if [ -n "$nspawn" ]; then
		kill "$nspawn" 2>/dev/null
		wait "$nspawn" 2>/dev/null
	fi
	rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

# The next release: the same files, a later version and a unit whose
# description changed.
version=$(dpkg-deb -f "$deb" Version)
mkdir -p "$tmp/debs"
cp "$deb" "$tmp/debs/memglow.deb"
cp "$2" "$tmp/debs/standin.so" || exit 1
dpkg-deb -R "$deb" "$tmp/next"
sed -i "s/^Version: .*/Version: $version+next1/" "$tmp/next/DEBIAN/control"
sed -i 's/^Description=.*/Description=memglow figures for node_exporter, next/' \
	"$tmp/next/usr/lib/systemd/system/memglow-textfile.service"
dpkg-deb --root-owner-group -b "$tmp/next" "$tmp/debs/next.deb" >/dev/null || exit 1

root=$tmp/root
mkdir -p "$root/var/lib" "$root/var/log/journal" "$root/usr" "$root/tmp" "$root/root" "$tmp/upper"
cp -a /etc "$root/etc"
cp -a /var/lib/dpkg "$root/var/lib/"
for dir in bin sbin lib lib64; do
	[ ! -e "/$dir" ] || ln -s "usr/$dir" "$root/$dir"
done
rm -f "$root/etc/os-release"
cp /usr/lib/os-release "$root/etc/os-release"
: >"$root/etc/machine-id"
timeout 600 systemd-nspawn --quiet --keep-unit --register=no --boot --private-network \
	--directory="$root" --overlay="/usr:$tmp/upper:/usr" --bind-ro="$tmp/debs:/debs" \
	</dev/null >"$tmp/boot.log" 2>&1 &
nspawn=$!
# The container's init: the child of systemd-nspawn, under timeout.
init=
found() {
	init=$(pgrep -P "$(pgrep -P "$nspawn" | head -n 1)" 2>/dev/null | head -n 1)
	[ -n "$init" ]
}
waitfor 60 found || { echo "SKIPPED: the container did not start: $(tail -n 3 "$tmp/boot.log")"; exit 0; }
inside() {
	nsenter -t "$init" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"
}
booted() {
	state=$(inside systemctl is-system-running 2>/dev/null)
	[ "$state" = running ] || [ "$state" = degraded ]
}
waitfor 120 booted || { echo "SKIPPED: the container did not boot: $(tail -n 3 "$tmp/boot.log")"; exit 0; }
# What the machine's own package tools say about services (a container's
# policy that forbids starting any) is not the host's under test.
inside rm -f /usr/sbin/policy-rc.d
inside mkdir -p /var/lib/prometheus/node-exporter
prom=/var/lib/prometheus/node-exporter/memglow.prom
timer=memglow-textfile.timer service=memglow-textfile.service

# expect STEP UNIT PROPERTY VALUE: the unit's property has that value.
expect() {
	got=$(inside systemctl show -P "$3" "$2" 2>&1)
	[ "$got" = "$4" ] || fail "$1: $2's $3 is '$got', not '$4'"
}
# runs STEP: the service runs once and writes the figures.
runs() {
	inside rm -f "$prom"
	inside systemctl start "$service" || fail "$1: the service failed: $(inside journalctl -u "$service" -n 5 -o cat --no-pager)"
	inside grep -q '^memglow_memory_total_bytes [0-9]' "$prom" || fail "$1: the service wrote no figures"
}
step() {
	echo "--- $1"
	shift
	out=$(inside "$@" 2>&1) || fail "$*: $out"
}
# hold NAME: a run of the service in progress, whose memglow waits at the
# stand-in's gate /run/memglow-gate-NAME until the test opens it (makes
# the file 1 there), with no time limit.
dropin=/run/systemd/system/memglow-textfile.service.d
hold() {
	inside mkdir -p "/run/memglow-gate-$1" "$dropin"
	inside sh -c "printf '[Service]\nTimeoutStartSec=infinity\nReadWritePaths=/run/memglow-gate-$1\nEnvironment=LD_PRELOAD=/debs/standin.so STANDIN_GATE=/run/memglow-gate-$1\n' >$dropin/held.conf"
	inside systemctl daemon-reload
	inside systemctl start --no-block "$service"
	waitfor 120 held || fail "$1: no run in progress: $(inside systemctl status --no-pager "$service" 2>&1 | tail -n 5)"
}
held() {
	[ "$(inside systemctl show -P ActiveState "$service")" = activating ] && inside pgrep -x memglow >/dev/null
}
unhold() {
	inside rm -r "$dropin"
	inside systemctl daemon-reload
}

step "install" dpkg -i /debs/memglow.deb
expect "install" "$timer" UnitFileState disabled
expect "install" "$timer" ActiveState inactive
inside systemctl enable --now "$timer" >/dev/null 2>&1 || fail "enable --now failed"
expect "enabled" "$timer" ActiveState active
runs "enabled"
runs "enabled, again"
# Runs that succeed put nothing in the journal; a failure does, with what
# the script says.
lines=$(inside journalctl -u "$service" -o cat --no-pager | grep -cv '^-- ')
[ "$lines" = 0 ] || fail "two runs that succeeded put $lines lines in the journal: $(inside journalctl -u "$service" -o cat --no-pager)"
inside mkdir -p /run/systemd/system/memglow-textfile.service.d
inside sh -c 'printf "[Service]\nExecStart=\nExecStart=/bin/sh -c \"echo memglow-textfile: broken on purpose >&2; exit 1\"\n" \
	>/run/systemd/system/memglow-textfile.service.d/broken.conf'
inside systemctl daemon-reload
inside systemctl start "$service" 2>/dev/null && fail "the broken run succeeded"
journal=$(inside journalctl -u "$service" -o cat --no-pager)
case $journal in *"broken on purpose"*"Failed with result"*) ;; *) fail "a failed run's journal: $journal" ;; esac
inside rm -r /run/systemd/system/memglow-textfile.service.d
inside systemctl daemon-reload
inside systemctl reset-failed "$service"

# The upgrade leaves a run in progress alone: it ends as it would have.
inside rm -f "$prom"
hold upgrade
step "upgrade" dpkg -i /debs/next.deb
expect "upgrade" "$service" ActiveState activating
inside touch /run/memglow-gate-upgrade/1
finished() { [ "$(inside systemctl show -P ActiveState "$service")" != activating ]; }
waitfor 120 finished || fail "upgrade: the run held across it did not end once let through"
expect "upgrade, the run held across it" "$service" Result success
inside grep -q '^memglow_memory_total_bytes [0-9]' "$prom" || fail "upgrade: the run held across it wrote no figures"
unhold
for unit in "$timer" "$service"; do
	expect "upgrade" "$unit" NeedDaemonReload no
done
expect "upgrade" "$service" Description "memglow figures for node_exporter, next"
expect "upgrade" "$timer" UnitFileState enabled
expect "upgrade" "$timer" ActiveState active
runs "upgrade"

step "install again" dpkg -i /debs/next.deb
expect "install again" "$timer" UnitFileState enabled
expect "install again" "$timer" ActiveState active

# A remove during a run ends the run, and leaves no unit failed.
hold remove
step "remove" dpkg -r memglow
expect "remove" "$timer" ActiveState inactive
expect "remove" "$service" ActiveState inactive
inside pgrep -x memglow >/dev/null && fail "remove: the run in progress goes on"
unhold
inside test ! -e "$prom" || fail "remove: the figures stay, to be served as current"
# Masked: the link that enabled it, which dpkg leaves, starts nothing.
expect "remove" "$timer" LoadState masked

step "install after the remove" dpkg -i /debs/next.deb
expect "install after the remove" "$timer" UnitFileState enabled
expect "install after the remove" "$timer" ActiveState active
runs "install after the remove"

step "purge" dpkg -P memglow
expect "purge" "$timer" LoadState not-found
inside test ! -e "$prom" || fail "purge: the figures stay"
inside test ! -e /etc/systemd/system/memglow-textfile.timer || fail "purge: a mask stays"
inside test ! -e /etc/systemd/system/timers.target.wants/memglow-textfile.timer || fail "purge: the link stays"
inside sh -c 'ls -R /var/lib/systemd/deb-systemd-helper-enabled/ 2>/dev/null | grep memglow' && fail "purge: the helper's state stays"
inside sh -c 'journalctl -o cat --no-pager | grep "status=203"' && fail "a run found no script"

[ "$failures" = 0 ] || { echo "lifecycle.sh: $failures failures"; exit 1; }
echo "lifecycle.sh: install, enable, upgrade, install again, remove, install, purge: all as they should"
