#!/bin/sh
# SPDX-License-Identifier: ISC
# operators.sh SOURCE BUILD STANDIN: the files operators paste into the
# servers that watch many machines, as an install at a scratch prefix
# leaves them, each read by the real tool from Debian's packages:
# Prometheus's alerting rules (promtool check rules, and promtool test rules
# on made-up series), the Icinga 2 CheckCommand (icinga2 daemon -C), the
# Nagios command and service template (nagios4 -v, and a real Nagios that
# runs the check once), and the Zabbix agent items (zabbix_agentd -t, each
# item run against the stand-in's figures).  (fleet.sh runs the NRPE line.)
# A tool that is not installed is left out with a line that says so; exits
# 77 where none is.
set -u
src=$(cd "$1" && pwd) build=$(cd "$2" && pwd) standin=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
contrib=$src/contrib
tmp=$(mktemp -d) || exit 1
nagios=
cleanup() {
	[ -z "$nagios" ] || kill "$nagios" 2>/dev/null
	rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
ran=0
has() {  # has TOOL PACKAGE
	command -v "$1" >/dev/null 2>&1 && ran=$((ran + 1)) && return 0
	echo "SKIPPED: $1 is not installed (Debian's $2)"
	return 1
}

# The install's memglow is the built one (which finds its library where it
# was built, also in a cross build) with the stand-in's figures.
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "cmake --install failed"; exit 1; }
examples=$prefix/share/doc/memglow/examples
printf '#!/bin/sh\nLD_PRELOAD=%s exec %s "$@"\n' "$standin" "$build/memglow" >"$prefix/bin/memglow"
chmod +x "$prefix/bin/memglow"

if has promtool prometheus; then
	out=$(promtool check rules "$contrib/prometheus/memglow.rules.yml" 2>&1) ||
		fail "promtool check rules: $out"
	out=$(cd "$contrib/prometheus" && promtool test rules memglow.rules.test.yml 2>&1) ||
		fail "promtool test rules: $out"
fi

if has icinga2 icinga2-bin; then
	cat >"$tmp/icinga2.conf" <<EOF
include "$examples/icinga2/memglow.conf"
object CheckCommand "nothing" { command = [ "/bin/true" ] }
object Host "localhost" {
	address = "127.0.0.1"
	check_command = "nothing"
}
object Service "memory" {
	host_name = "localhost"
	check_command = "memglow"
	vars.memglow_swap_warning = "40%:"
	vars.memglow_no_swap = "warning"
}
EOF
	# As this user, with its files here.
	out=$(icinga2 daemon -C -c "$tmp/icinga2.conf" -DRunAsUser="$(id -un)" -DRunAsGroup="$(id -gn)" \
		-DCacheDir="$tmp" -DVarsPath="$tmp/vars" -DObjectsPath="$tmp/objects" 2>&1) ||
		fail "icinga2 daemon -C: $out"
fi

if has nagios4 nagios4-core; then
	mkdir "$tmp/spool"
	cat >"$tmp/nagios.cfg" <<EOF
cfg_file=$examples/nagios/memglow.cfg
cfg_file=$tmp/objects.cfg
resource_file=$tmp/resource.cfg
log_file=$tmp/nagios.log
check_result_path=$tmp/spool
lock_file=$tmp/nagios.lock
temp_file=$tmp/nagios.tmp
status_file=$tmp/status.dat
state_retention_file=$tmp/retention.dat
command_file=$tmp/nagios.cmd
query_socket=$tmp/nagios.qh
nagios_user=$(id -un)
nagios_group=$(id -gn)
illegal_macro_output_chars=\`~\$&|'"<>
EOF
	# shellcheck disable=SC2016 # a Nagios macro
	printf '$USER1$=/usr/lib/nagios/plugins\n' >"$tmp/resource.cfg"
	cat >"$tmp/objects.cfg" <<'EOF'
define timeperiod {
	timeperiod_name	24x7
	alias		always
	monday		00:00-24:00
	tuesday		00:00-24:00
	wednesday	00:00-24:00
	thursday	00:00-24:00
	friday		00:00-24:00
	saturday	00:00-24:00
	sunday		00:00-24:00
}
define command {
	command_name	nothing
	command_line	/bin/true
}
define contact {
	contact_name			admin
	host_notifications_enabled	0
	service_notifications_enabled	0
	host_notification_period	24x7
	service_notification_period	24x7
	host_notification_options	n
	service_notification_options	n
	host_notification_commands	nothing
	service_notification_commands	nothing
}
define host {
	host_name		localhost
	address			127.0.0.1
	check_command		nothing
	max_check_attempts	1
	check_period		24x7
	contacts		admin
	notification_period	24x7
}
define service {
	use		memglow
	host_name	localhost
	contacts	admin
}
EOF
	out=$(nagios4 -v "$tmp/nagios.cfg" 2>&1) || fail "nagios4 -v: $(printf '%s\n' "$out" | grep -E 'Error|Warning')"
	printf '%s\n' "$out" | grep -q 'Total Warnings: 0' || fail "nagios4 -v: $(printf '%s\n' "$out" | grep Warning)"
	# The command line as Nagios would run it: its macros replaced, a range
	# that the shell would take apart among the arguments; and a service
	# of memory alone, whose swap arguments are empty.
	want="MEMGLOW OK - 50.00% of memory free or in cache (4294967296 of 8589934592 bytes), 100.00% of swap free (2147483648 of 2147483648 bytes)"
	for args in '~:80 10% @0:25 0:' '20% 10%  '; do
		# shellcheck disable=SC2016 # Nagios macros
		line=$(sed -n 's/^[[:space:]]*command_line[[:space:]]*//p' "$examples/nagios/memglow.cfg" |
			sed -e "s/\\\$ARG1\\\$/$(echo "$args" | cut -d' ' -f1)/" \
				-e "s/\\\$ARG2\\\$/$(echo "$args" | cut -d' ' -f2)/" \
				-e "s/\\\$ARG3\\\$/$(echo "$args" | cut -d' ' -f3)/" \
				-e "s/\\\$ARG4\\\$/$(echo "$args" | cut -d' ' -f4)/")
		got=$(sh -c "$line" | cut -d'|' -f1)
		[ "$got" = "$want" ] || fail "the Nagios command line $line gives '$got'"
	done

	# A real Nagios runs the service's check once, at once, and records
	# its state.
	printf 'check_external_commands=1\ncommand_check_interval=-1\nstatus_update_interval=1\nuse_syslog=0\n' \
		>>"$tmp/nagios.cfg"
	nagios4 "$tmp/nagios.cfg" >"$tmp/nagios.out" 2>&1 &
	nagios=$!
	# Asked once its command pipe is there; recorded when status.dat
	# says the service has been checked.
	asked() {
		[ -p "$tmp/nagios.cmd" ] || return 1
		now=$(date +%s)
		printf '[%s] SCHEDULE_FORCED_SVC_CHECK;localhost;Memory;%s\n' "$now" "$now" >"$tmp/nagios.cmd"
	}
	checked() {
		[ -f "$tmp/status.dat" ] &&
			awk '/^servicestatus/ { s = 1 } s && /has_been_checked=1/ { found = 1 } END { exit !found }' "$tmp/status.dat"
	}
	state="never asked"
	if waitfor 120 asked; then
		state="asked, not recorded in 120 s"
		if waitfor 120 checked; then
			state=$(awk -F= '/^servicestatus/ { s = 1 } s && $1 ~ /^[ \t]*(current_state|plugin_output)$/ { sub(/^[ \t]*/, ""); print }' "$tmp/status.dat")
		fi
	fi
	kill "$nagios" 2>/dev/null
	wait "$nagios" 2>/dev/null
	nagios=
	# Its workers end after it.
	gone() { ! grep -qs "$tmp" /proc/[0-9]*/cmdline; }
	waitfor 60 gone || fail "Nagios left processes behind"
	[ "$state" = "current_state=0
plugin_output=$want" ] || fail "Nagios recorded: $state $(tail -n 3 "$tmp/nagios.out")"
fi

if has zabbix_agentd zabbix-agent; then
	printf 'Server=127.0.0.1\nLogType=console\nPidFile=%s\nInclude=%s\n' "$tmp/zabbix.pid" \
		"$examples/zabbix/memglow.conf" >"$tmp/zabbix.conf"
	for item in memory.total:8589934592 memory.free:1073741824 memory.cached:3221225472 \
		swap.total:2147483648 swap.free:2147483648; do
		key="memglow[${item%%:*}]"
		got=$(zabbix_agentd -c "$tmp/zabbix.conf" -t "$key" 2>&1)
		[ "$(printf '%s\n' "$got" | sed -n 's/.*\[t|\(.*\)\]$/\1/p')" = "${item#*:}" ] ||
			fail "zabbix_agentd -t $key: $got"
	done
	got=$(zabbix_agentd -c "$tmp/zabbix.conf" -t memglow.json 2>&1)
	want='{"memory.total":8589934592,"memory.free":1073741824,"memory.cached":3221225472,"swap.total":2147483648,"swap.free":2147483648}'
	[ "$(printf '%s\n' "$got" | sed -n 's/.*\[t|\(.*\)\]$/\1/p')" = "$want" ] ||
		fail "zabbix_agentd -t memglow.json: $got"
fi

[ "$failures" = 0 ] || { echo "operators.sh: $failures failures"; exit 1; }
[ "$ran" -gt 0 ] || { echo "none of promtool, icinga2, nagios4, zabbix_agentd is installed"; exit 77; }
echo "operators.sh: all passed"
