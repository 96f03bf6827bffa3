#!/bin/sh
# SPDX-License-Identifier: ISC
# fleet.sh SOURCE BUILD STANDIN: the fleet files as an install at a prefix
# other than /usr leaves them, each run by the program that runs it in
# production: the NRPE line by a real NRPE answering check_nrpe on
# 127.0.0.1; the cron line in cron's environment; and the systemd timer and
# service by a real systemd, booted in a container (systemd-nspawn) whose
# /usr carries the install, once as shipped and once with the drop-in that
# moves the collector folder.  A part this machine cannot run says SKIPPED
# and why; exits 77 where none ran.
set -u
src=$(cd "$1" && pwd) build=$(cd "$2" && pwd)
tmp=$(mktemp -d) || exit 1
chmod 755 "$tmp"
# NRPE runs the check as nobody, who may not reach the build (a clone in a
# folder only its owner enters): all it runs is copied here.
standin=$tmp/standin.so
cp "$3" "$standin" || exit 1
pids=
# Ends what the test started; a container shuts down at TERM.
endall() {
	for pid in $pids; do
		kill "$pid" 2>/dev/null
	done
	for pid in $pids; do
		wait "$pid" 2>/dev/null
	done
	pids=
}
# shellcheck disable=SC2317 # called by the trap
cleanup() {
	endall
	rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
ran=0
skip() {
	echo "SKIPPED: $*"
}

# An install at a scratch prefix, whose memglow reports the stand-in's
# figures (set by the file standin.env for each run).
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "cmake --install failed"; exit 1; }
mv "$prefix/bin/memglow" "$prefix/bin/memglow.real"
cat >"$prefix/bin/memglow" <<EOF
#!/bin/sh
. "$tmp/standin.env"
LD_PRELOAD=$standin exec "$prefix/bin/memglow.real" "\$@"
EOF
chmod 755 "$prefix/bin/memglow"
: >"$tmp/standin.env"
examples=$prefix/share/doc/memglow/examples
mem="50.00% of memory free or in cache (4294967296 of 8589934592 bytes)"
swap="100.00% of swap free (2147483648 of 2147483648 bytes)"

# --- NRPE, with the installed line, asked by check_nrpe.
nrpe=/usr/sbin/nrpe checknrpe=/usr/lib/nagios/plugins/check_nrpe
if [ ! -x "$nrpe" ] || [ ! -x "$checknrpe" ]; then
	skip "NRPE: no $nrpe or $checknrpe here (Debian's nagios-nrpe-server and nagios-nrpe-plugin)"
else
	ran=$((ran + 1))
	user=$(id -un) group=$(id -gn)
	[ "$(id -u)" -ne 0 ] || user=nobody group=$(id -gn nobody)
	port=$((20000 + $$ % 20000))
	ours() { listens "$nrpepid" "$port" || ! kill -0 "$nrpepid" 2>/dev/null; }
	for attempt in 1 2 3 4 5 6 7 8 9 10; do
		cat >"$tmp/nrpe.cfg" <<EOF
pid_file=$tmp/nrpe.pid
server_address=127.0.0.1
server_port=$port
nrpe_user=$user
nrpe_group=$group
allowed_hosts=127.0.0.1
dont_blame_nrpe=0
command_timeout=60
include=$examples/nagios/nrpe-memglow.cfg
EOF
		"$nrpe" -c "$tmp/nrpe.cfg" -f </dev/null >"$tmp/nrpe.log" 2>&1 &
		nrpepid=$!
		pids="$pids $nrpepid"
		# Ours once it listens there (a server that answers may be
		# another run's); it ends where another server has the port.
		waitfor 60 ours
		listens "$nrpepid" "$port" && break
		kill "$nrpepid" 2>/dev/null
		wait "$nrpepid" 2>/dev/null
		port=$((port + attempt * 7))
	done
	if listens "$nrpepid" "$port"; then
		got=$("$checknrpe" -H 127.0.0.1 -p "$port" -c check_memglow 2>&1)
		status=$?
		want="MEMGLOW OK - $mem, $swap"
		{ [ "$status" = 0 ] && [ "${got%%|*}" = "$want" ]; } ||
			fail "NRPE: check_nrpe said (status $status) $got"
		# A memglow that hangs reads UNKNOWN with its reason, within the
		# check_nrpe -t 30 that the line's comment gives.
		echo 'STANDIN_DELAY=mem:60; export STANDIN_DELAY' >"$tmp/standin.env"
		got=$("$checknrpe" -H 127.0.0.1 -p "$port" -t 30 -c check_memglow 2>&1)
		status=$?
		: >"$tmp/standin.env"
		{ [ "$status" = 3 ] && [ "$got" = "MEMGLOW UNKNOWN - memglow timed out after 5 seconds" ]; } ||
			fail "NRPE: a hung memglow: check_nrpe said (status $status) $got"
	else
		fail "NRPE did not start: $(cat "$tmp/nrpe.log")"
	fi
fi

# --- cron: the installed line, in the environment Debian's cron gives a
# job (cron(8)), into another folder.
ran=$((ran + 1))
line=$(grep -v '^#' "$examples/memglow-textfile.cron" | sed "s|/var/lib/prometheus/node-exporter|$tmp/cron|")
mkdir "$tmp/cron"
job=$(printf '%s\n' "$line" | cut -d' ' -f7-)
[ "$(printf '%s\n' "$line" | cut -d' ' -f1-6)" = "* * * * * root" ] || fail "cron: the line is $line"
out=$(cd / && env -i PATH=/usr/bin:/bin SHELL=/bin/sh HOME=/root LOGNAME=root /bin/sh -c "$job" 2>&1)
status=$?
{ [ "$status" = 0 ] && [ -z "$out" ]; } || fail "cron: the job said (status $status) $out"
grep -qx 'memglow_memory_total_bytes 8589934592' "$tmp/cron/memglow.prom" 2>/dev/null ||
	fail "cron: the job wrote no file of the figures"

# --- systemd: a container booted with the install over its /usr, as
# shipped, and with the drop-in of memglow-textfile(8) that moves the
# folder.  It reads the real /proc/meminfo through the real libstatgrab.
if [ "$(id -u)" -ne 0 ]; then
	skip "systemd: booting a container (systemd-nspawn) needs root"
elif ! command -v systemd-nspawn >/dev/null 2>&1; then
	skip "systemd: no systemd-nspawn here (Debian's systemd-container)"
else
	DESTDIR=$tmp/stage cmake --install "$build" --prefix /usr/local >/dev/null
	# boot NAME FOLDER [SETUP]: a root of its own /etc and /var, booted,
	# once the shell command SETUP has run there.
	boot() {
		root=$tmp/$1
		mkdir -p "$root/etc/systemd/system/timers.target.wants" "$root/var/log/journal" \
			"$root/usr" "$root/tmp" "$root/root" "$root$2"
		for dir in bin sbin lib lib64; do
			[ ! -e "/$dir" ] || ln -s "usr/$dir" "$root/$dir"
		done
		cp /etc/passwd /etc/group "$root/etc/"
		cp -a /etc/alternatives "$root/etc/"
		cp /usr/lib/os-release "$root/etc/os-release"
		: >"$root/etc/machine-id"
		ln -s /usr/local/lib/systemd/system/memglow-textfile.timer \
			"$root/etc/systemd/system/timers.target.wants/"
		(cd "$root" && eval "${3:-}") || fail "systemd, $1: $3"
		timeout 300 systemd-nspawn --quiet --keep-unit --register=no --boot --private-network \
			--directory="$root" --overlay-ro="/usr:$tmp/stage/usr:/usr" \
			</dev/null >"$tmp/$1.log" 2>&1 &
		pids="$pids $!"
	}
	# Debian's layout: the folder above the collector's is the
	# exporter's user's.
	boot shipped /var/lib/prometheus/node-exporter 'chown nobody var/lib/prometheus'
	# That user swapped the collector's folder for a link to /etc, which
	# the unit's one writable path then follows: the script refuses it.
	boot swapped /var/lib/prometheus/moved \
		'chown nobody var/lib/prometheus && ln -s /etc var/lib/prometheus/node-exporter'
	folder=/srv/metrics
	mkdir -p "$tmp/moved/etc/systemd/system/memglow-textfile.service.d"
	sed -n '/^\[Unit\]$/,$p' "$src/docs/memglow-textfile.8" | sed -n '1,/^\.Ed$/p' | sed '/^\.Ed$/d' |
		sed "s|/srv/metrics|$folder|; s|/usr/sbin/|/usr/local/sbin/|" \
		>"$tmp/moved/etc/systemd/system/memglow-textfile.service.d/folder.conf"
	boot moved "$folder"
	ran=$((ran + 1))
	# The timer's first run is 15 s after the boot.
	written() {
		[ -s "$tmp/shipped/var/lib/prometheus/node-exporter/memglow.prom" ] &&
			[ -s "$tmp/moved$folder/memglow.prom" ] && refused
	}
	refused() {
		journalctl --directory="$tmp/swapped/var/log/journal" --no-pager -o cat \
			-u memglow-textfile.service 2>/dev/null | grep -q 'memglow-textfile: .*: refused'
	}
	booted() {
		grep -q 'Reached target.*Timer' "$tmp/$1.log"
	}
	waitfor 150 written
	# Each container's journal is whole once it has shut down.
	endall
	if [ -e "$tmp/swapped/etc/memglow.prom" ]; then
		fail "systemd, swapped: the service wrote through the link: $(ls -l "$tmp/swapped/etc/memglow.prom")"
	elif refused; then
		echo "systemd, swapped: refused, and /etc left alone"
	elif ! booted swapped; then
		skip "systemd, swapped: the container did not boot here: $(tail -n 3 "$tmp/swapped.log")"
	else
		fail "systemd, swapped: the script's refusal is not in the journal: $(journalctl \
			--directory="$tmp/swapped/var/log/journal" --no-pager -o cat -u memglow-textfile.service 2>&1 | tail -n 5)"
	fi
	for name in shipped moved; do
		log=$(journalctl --directory="$tmp/$name/var/log/journal" --no-pager -o cat \
			-u memglow-textfile.service 2>&1 | tail -n 5)
		case $name in
		shipped) file=$tmp/shipped/var/lib/prometheus/node-exporter/memglow.prom ;;
		moved) file=$tmp/moved$folder/memglow.prom ;;
		esac
		if [ -s "$file" ]; then
			total=$(sed -n 's/^memglow_memory_total_bytes \([0-9]*\)$/\1/p' "$file")
			kib=$(sed -n 's/^MemTotal: *\([0-9]*\) kB$/\1/p' /proc/meminfo)
			{ [ "$total" = $((kib * 1024)) ] && [ "$(grep -c "^memglow_[a-z_]* [0-9]*\$" "$file")" = 5 ]; } ||
				fail "systemd, $name: the file holds $(cat "$file")"
			! printf '%s\n' "$log" | grep -q 'status=1/FAILURE' ||
				fail "systemd, $name: a run failed: $log"
		elif ! booted "$name"; then
			skip "systemd, $name: the container did not boot here: $(tail -n 3 "$tmp/$name.log")"
		else
			fail "systemd, $name: the timer's runs wrote no file in 150 s: $log"
		fi
	done
fi

[ "$failures" = 0 ] || { echo "fleet.sh: $failures failures"; exit 1; }
[ "$ran" -gt 0 ] || exit 77
echo "fleet.sh: all passed"
