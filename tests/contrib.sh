#!/bin/sh
# SPDX-License-Identifier: ISC
# contrib.sh SOURCE MEMGLOW STANDIN SWAPNAMES: the scripts for the systems
# that watch many machines, run against the built memglow with the stand-in
# library's figures, and the real parts they meet: shellcheck on both
# scripts; memglow-textfile's file, as promtool checks it and as a real
# node_exporter on 127.0.0.1 serves it, and, as root, the folders it
# refuses because another user may change names in them, and another user
# who swaps its folder as it writes (SWAPNAMES); check_memglow's status,
# line and performance data for figures above, between and below its
# levels, a failed sample and each kind of bad argument.  Exits 77
# (skipped) where a part is not installed.
set -u
src=$1 memglow=$2 standin=$3 swapnames=$4
textfile=$src/contrib/memglow-textfile
check=$src/contrib/check_memglow
for tool in shellcheck promtool prometheus-node-exporter curl; do
	command -v "$tool" >/dev/null 2>&1 || { echo "contrib.sh: no $tool here"; exit 77; }
done
tmp=$(mktemp -d)
nodeexporter='' busy=''
cleanup() {
	[ -z "$nodeexporter" ] || kill "$nodeexporter" 2>/dev/null
	# shellcheck disable=SC2086 # a list of pids
	[ -z "$busy" ] || kill $busy 2>/dev/null
	rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"

# memglow on PATH is the built one, with the stand-in's figures.
mkdir "$tmp/bin" "$tmp/nobin"
printf '#!/bin/sh\nLD_PRELOAD=%s exec %s "$@"\n' "$standin" "$memglow" >"$tmp/bin/memglow"
chmod +x "$tmp/bin/memglow"
for tool in awk cat chmod mktemp mv rm sh tail; do
	ln -s "$(command -v "$tool")" "$tmp/nobin/$tool"
done
PATH=$tmp/bin:$PATH
export PATH

shellcheck "$textfile" "$check" || fail "shellcheck"

# runs NAME STATUS EXPECTED-OUT EXPECTED-ERR COMMAND...: runs the command
# and compares its status, stdout and stderr.
runs() {
	name=$1 status=$2 out=$3 err=$4
	shift 4
	"$@" >"$tmp/out" 2>"$tmp/err"
	got=$?
	[ "$got" = "$status" ] || fail "$name: status $got, not $status"
	[ "$(cat "$tmp/out")" = "$out" ] || fail "$name: stdout
$(cat "$tmp/out")
not
$out"
	[ "$(cat "$tmp/err")" = "$err" ] || fail "$name: stderr
$(cat "$tmp/err")
not
$err"
}

# --- memglow-textfile
dir=$tmp/collector
mkdir "$dir"
prom() {  # the file for these figures
	for g in "memory_total_bytes Physical memory in all.:$1" \
		"memory_free_bytes Physical memory free, without the cache.:$2" \
		"memory_cached_bytes Physical memory in use as cache.:$3" \
		"swap_total_bytes Swap space in all.:$4" "swap_free_bytes Swap space free.:$5"; do
		metric=memglow_${g%% *} help=${g#* } value=${g##*:}
		help=${help%:*}
		printf '# HELP %s %s\n# TYPE %s gauge\n%s %s\n' "$metric" "$help" "$metric" "$metric" "$value"
	done
}
runs "textfile: the example machine" 0 "" "" "$textfile" "$dir"
[ "$(cat "$dir/memglow.prom")" = "$(prom 8589934592 1073741824 3221225472 2147483648 2147483648)" ] ||
	fail "textfile: the file holds
$(cat "$dir/memglow.prom")"
[ "$(stat -c %a "$dir/memglow.prom")" = 644 ] || fail "textfile: the file is not readable by all"
out=$(promtool check metrics <"$dir/memglow.prom" 2>&1) || fail "promtool: $out"
[ -z "$out" ] || fail "promtool finds: $out"

STANDIN_MEM="17179869184 123456789 987654321" STANDIN_SWAP="0 0" \
	runs "textfile: another machine, no swap" 0 "" "" "$textfile" "$dir"
want=$(prom 17179869184 123456789 987654321 0 0)
[ "$(cat "$dir/memglow.prom")" = "$want" ] || fail "textfile: the file holds
$(cat "$dir/memglow.prom")"

# A real node_exporter, with the textfile collector alone, on a free port of
# the loopback address: once it listens there, or another port where it
# ends because another server has the port.
port=$((20000 + $$ % 20000))
started() { listens "$nodeexporter" "$port" || ! kill -0 "$nodeexporter" 2>/dev/null; }
for attempt in 1 2 3 4 5 6 7 8 9 10; do
	prometheus-node-exporter --collector.disable-defaults --collector.textfile \
		--collector.textfile.directory="$dir" --web.listen-address="127.0.0.1:$port" \
		>"$tmp/node_exporter.log" 2>&1 &
	nodeexporter=$!
	waitfor 60 started
	if listens "$nodeexporter" "$port"; then
		curl --noproxy "*" -fsS "http://127.0.0.1:$port/metrics" >"$tmp/metrics" 2>"$tmp/curl.log" ||
			fail "node_exporter: $(cat "$tmp/curl.log")"
		break
	fi
	kill "$nodeexporter" 2>/dev/null
	wait "$nodeexporter" 2>/dev/null
	nodeexporter=
	port=$((port + attempt * 7))
done
if [ -s "$tmp/metrics" ]; then
	served=$(awk '/^memglow_/ { printf "%s %.0f\n", $1, $2 }' "$tmp/metrics")
	[ "$served" = "$(printf '%s\n' "$want" | grep '^memglow' | sort)" ] ||
		fail "node_exporter serves
$served"
	grep -qx 'node_textfile_scrape_error 0' "$tmp/metrics" ||
		fail "node_exporter: $(grep node_textfile_scrape_error "$tmp/metrics")"
	kill "$nodeexporter"
	wait "$nodeexporter" 2>/dev/null
	nodeexporter=
else
	fail "node_exporter did not start: $(cat "$tmp/node_exporter.log")"
fi

# Failures leave the last good file alone, and nothing half-written.
cp "$dir/memglow.prom" "$tmp/good"
STANDIN_FAIL=mem:1 runs "textfile: a failed sample" 1 "" \
	"memglow-textfile: memglow failed: Error getting memory information." "$textfile" "$dir"
PATH=$tmp/nobin runs "textfile: no memglow" 1 "" "memglow-textfile: memglow: not found on PATH" \
	"$textfile" "$dir"
cmp -s "$tmp/good" "$dir/memglow.prom" || fail "textfile: a failure touched the file"
[ "$(ls -A "$dir")" = memglow.prom ] || fail "textfile: left behind: $(ls -A "$dir")"
runs "textfile: no such folder" 1 "" "memglow-textfile: $tmp/none: no such directory" \
	"$textfile" "$tmp/none"
runs "textfile: a file, not a folder" 1 "" "memglow-textfile: $tmp/good: no such directory" \
	"$textfile" "$tmp/good"
# A memglow killed by a signal is named as such.
mkdir "$tmp/killed"
printf '#!/bin/sh\nkill -SYS $$\n' >"$tmp/killed/memglow"
chmod +x "$tmp/killed/memglow"
PATH=$tmp/killed:$PATH runs "textfile: memglow killed by a signal" 1 "" \
	"memglow-textfile: memglow was killed by signal SIGSYS (exit status 159)" "$textfile" "$dir"
cmp -s "$tmp/good" "$dir/memglow.prom" || fail "textfile: a killed memglow touched the file"
# Ended by the cron line's timeout while memglow hangs: it says so.
STANDIN_DELAY=mem:30 runs "textfile: ended by timeout" 124 "" \
	"memglow-textfile: ended by SIGTERM before the file was written" timeout -k 5 1 "$textfile" "$dir"
cmp -s "$tmp/good" "$dir/memglow.prom" || fail "textfile: a run ended by timeout touched the file"
[ "$(ls -A "$dir")" = memglow.prom ] || fail "textfile: a run ended by timeout left behind: $(ls -A "$dir")"
# A full disk is one failure, with one line.  A small file system of its
# own needs root, or a user namespace.
full=$tmp/full
mkdir "$full"
if [ "$(id -u)" -eq 0 ]; then mountns="unshare -m"; else mountns="unshare -rm"; fi
if $mountns true 2>/dev/null; then
	# shellcheck disable=SC2016,SC2086 # the script's own arguments; a command and its flags
	runs "textfile: a full disk" 1 "" "memglow-textfile: $full: cannot write there" \
		$mountns sh -c 'mount -t tmpfs -o size=4k,mode=0755 tmpfs "$1" && cat /dev/zero >"$1/fill" 2>/dev/null; shift; exec "$@"' \
		sh "$full" "$textfile" "$full"
else
	echo "SKIPPED: textfile: a full disk (no mount namespace here for a small file system)"
fi
runs "textfile: two folders" 2 "" "usage: memglow-textfile [DIR]" "$textfile" "$dir" "$dir"
# A folder where no file can be made, whoever runs it; and, but for root,
# one without write permission.
runs "textfile: a folder that takes no files" 1 "" "memglow-textfile: /proc/1: cannot write there" \
	"$textfile" /proc/1
if [ "$(id -u)" -ne 0 ]; then
	chmod 555 "$dir"
	runs "textfile: a folder it cannot write" 1 "" "memglow-textfile: $dir: cannot write there" \
		"$textfile" "$dir"
	chmod 755 "$dir"
fi

# Run by root, the script writes through no name another user can change.
# Each case: the folders, with what another user (nobody) owns or may
# write, the folder given, and what the script must do; a folder that is
# refused is left as it was, and nothing is written through it.
if [ "$(id -u)" -ne 0 ]; then
	echo "SKIPPED: textfile: folders that another user owns or may write (needs root)"
else
	# The folders that all may write are out of other users' reach.
	chmod 700 "$tmp"
	at=$tmp/at
	example=$(prom 8589934592 1073741824 3221225472 2147483648 2147483648)
	while IFS='|' read -r case given status err; do
		rm -rf "$at" && mkdir -m 755 "$at" "$at/p" "$at/d" "$at/elsewhere" || exit 1
		case $case in
		"memglow.prom a link to a folder") ln -s ../elsewhere "$at/d/memglow.prom" ;;
		"memglow.prom a folder") mkdir "$at/d/memglow.prom" ;;
		"a folder another user owns") chown nobody "$at/d" ;;
		"a folder its group may write") chmod 775 "$at/d" ;;
		"a folder all may write") chmod 777 "$at/d" ;;
		"a sticky folder all may write") chmod 1777 "$at/d" ;;
		"a link to root's folder, in another user's") chown nobody "$at/p" && ln -s ../elsewhere "$at/p/d" ;;
		"a link to root's folder, in root's") ln -s ../elsewhere "$at/p/d" ;;
		"a link to root's folders, in another user's, a step above")
			chown nobody "$at/p" && mkdir "$at/elsewhere/d" && ln -s ../elsewhere "$at/p/q" ;;
		"Debian's: root's folder in another user's") chown nobody "$at/p" && mkdir "$at/p/d" ;;
		*) fail "textfile: no such case: $case" ;;
		esac
		runs "textfile as root: $case" "$status" "" "$(echo "$err" | sed "s|@|$at|")" "$textfile" "$at/$given"
		if [ "$status" = 0 ]; then
			[ "$(cat "$at/$given/memglow.prom")" = "$example" ] ||
				fail "textfile as root: $case: no file of the figures"
			[ -n "$(find "$at/$given/" -maxdepth 1 -name memglow.prom -user 0 -perm 644)" ] ||
				fail "textfile as root: $case: the file is not root's, of mode 0644"
		else
			written=$(find "$at" -name '.memglow.prom.*' -o -name memglow.prom -type f)
			[ -z "$written" ] || fail "textfile as root: $case: written: $written"
		fi
	done <<'CASES'
memglow.prom a link to a folder|d|1|memglow-textfile: @/d/memglow.prom: refused: not a regular file
memglow.prom a folder|d|1|memglow-textfile: @/d/memglow.prom: refused: not a regular file
a folder another user owns|d|1|memglow-textfile: @/d: refused: another user (uid 65534) owns it
a folder its group may write|d|1|memglow-textfile: @/d: refused: other users may write there
a folder all may write|d|1|memglow-textfile: @/d: refused: other users may write there
a sticky folder all may write|d|1|memglow-textfile: @/d: refused: other users may write there
a link to root's folder, in another user's|p/d|1|memglow-textfile: @/p/d: refused: not a folder of its own, in a folder that other users may change
a link to root's folders, in another user's, a step above|p/q/d|1|memglow-textfile: @/p/q/d: refused: not a folder of its own, in a folder that other users may change
a link to root's folder, in root's|p/d|0|
Debian's: root's folder in another user's|p/d|0|
CASES

	# Another user who owns the folder above swaps the folder for one of
	# their own, with a link to a file of root's under the temporary
	# file's name, as soon as that file is made.  The steps the script
	# once took (the file made, then opened again by name, its mode
	# changed by name, and renamed into the folder named again) lose
	# root's file to the swap; the script must not, in any try.  The
	# user who swaps is one of the test's own, an id no account has, so
	# that the old steps, run by root, follow no name that any other
	# process of the machine could change.  It must reach the folders,
	# whatever the test's own folder (tests/reachable.sh).
	intruder=$((4000000000 + $$))
	chmod 755 "$tmp"
	cp "$swapnames" "$tmp/swapnames" && chmod 755 "$tmp/swapnames" || exit 1
	cat >"$tmp/byname" <<'BYNAME'
#!/bin/sh
t=$(mktemp "$1/.memglow.prom.XXXXXX") || exit 1
figures=$(memglow -o -b)
printf '%s\n' "$figures" >"$t" && chmod 0644 "$t" && mv -f "$t" "$1/memglow.prom"
BYNAME
	# swapped SCRIPT: tries the script against the swap 10 times, and
	# says in how many of them root's file was written or its mode
	# changed, and in how many the swap came.
	swapped() {
		lost=0 came=0
		for _ in 1 2 3 4 5 6 7 8 9 10; do
			rm -rf "$at" && mkdir -m 755 "$at" "$at/p" "$at/p/d" && chown "$intruder" "$at/p" || exit 1
			echo secret >"$at/secret" && chmod 600 "$at/secret" && : >"$tmp/swap"
			env "$mark" setpriv --reuid="$intruder" --regid="$intruder" --clear-groups \
				"$tmp/swapnames" "$at/p" d "$at/secret" >"$tmp/swap" 2>&1 &
			swapper=$!
			waitfor 30 grep -q watching "$tmp/swap" || echo "swapnames: $(cat "$tmp/swap")" >&2
			sh "$1" "$at/p/d" >/dev/null 2>&1
			# The file made sets the swap off, if not before the
			# script's end then after it.
			if waitfor 30 grep -qx swapped "$tmp/swap"; then
				came=$((came + 1))
			else
				kill "$swapper" 2>/dev/null
			fi
			wait "$swapper"
			{ [ "$(cat "$at/secret")" = secret ] && [ "$(stat -c %a "$at/secret")" = 600 ]; } ||
				lost=$((lost + 1))
		done
		echo "$lost $came"
	}
	# shellcheck disable=SC2046 # two counts
	set -- $(swapped "$tmp/byname")
	if [ "$1" = 0 ]; then
		echo "SKIPPED: textfile, swapped: the swap never won against the old steps here (came in $2 of 10 tries)"
	else
		echo "textfile, swapped: the old steps lost root's file in $1 of 10 tries"
		# shellcheck disable=SC2046 # two counts
		set -- $(swapped "$textfile")
		if [ "$1" != 0 ]; then
			fail "textfile, swapped: root's file was written through the swap in $1 of 10 tries"
		elif [ "$2" != 10 ]; then
			fail "textfile, swapped: the script made no file for the swap in $((10 - $2)) of 10 tries"
		else
			echo "textfile, swapped: the script kept root's file in 10 of 10 tries, each swapped"
		fi
	fi
fi

# --- check_memglow: 50 % of the memory free or in cache (4 of 8 GiB), swap
# all free.
perf() {  # perf WARN CRIT SWAPFREEPCT SWAPWARN SWAPCRIT SWAPFREE SWAPTOTAL [BYTESWARN BYTESCRIT]
	p="'memory_free_or_cache'=50.00%;$1;$2;0;100 'memory_free_or_cache_bytes'=4294967296B;${8:-};${9:-};0;8589934592"
	[ "$7" = 0 ] || p="$p 'swap_free'=$3%;$4;$5;0;100"
	echo "$p 'swap_free_bytes'=$6B;;;0;$7"
}
mem="50.00% of memory free or in cache (4294967296 of 8589934592 bytes)"
swap="100.00% of swap free (2147483648 of 2147483648 bytes)"
ok="MEMGLOW OK - $mem, $swap" warning="MEMGLOW WARNING - $mem, $swap" critical="MEMGLOW CRITICAL - $mem, $swap"
full=2147483648
runs "check: above the levels" 0 "$ok|$(perf 20: 10: 100.00 '' '' $full $full)" "" "$check" -w 20 -c 10
runs "check: between the levels" 1 "$warning|$(perf 60: 40: 100.00 '' '' $full $full)" "" "$check" -w 60 -c 40
runs "check: below the levels" 2 "$critical|$(perf 60: 55: 100.00 '' '' $full $full)" "" \
	"$check" --warning=60 --critical=55
runs "check: at the warning level" 0 "$ok|$(perf 50: 10: 100.00 '' '' $full $full)" "" "$check" -w50 -c10
# The levels as operators type them: percentages with %, amounts free with
# a unit (powers of 1024), and the monitoring-plugins ranges of either.
runs "check: percentages with %" 1 "$warning|$(perf 60: 12.5: 100.00 '' '' $full $full)" "" \
	"$check" -w 60% -c 12.5%
runs "check: amounts" 1 "$warning|$(perf '' '' 100.00 '' '' $full $full 5368709120: 1073741824:)" "" \
	"$check" -w 5G -c 1024M
runs "check: amounts, below the critical" 2 \
	"$critical|$(perf '' '' 100.00 '' '' $full $full 8589934592: 4294967297:)" "" "$check" -w 8G -c 4294967297B
runs "check: an amount and a percentage" 0 "$ok|$(perf '' 10: 100.00 '' '' $full $full 4096: '')" "" \
	"$check" -w 4K -c 10
runs "check: a range that holds it" 0 "$ok|$(perf 40:60 30:70 100.00 '' '' $full $full)" "" \
	"$check" -w 40:60 -c 30:70
runs "check: at most" 2 "$critical|$(perf '~:60' '~:45' 100.00 '' '' $full $full)" "" \
	"$check" -w '~:60' -c '~:45'
runs "check: inside an alert range" 1 "$warning|$(perf @40:60 10: 100.00 '' '' $full $full)" "" \
	"$check" -w @40:60 -c 10
runs "check: an amount range" 1 "$warning|$(perf "" 0: 100.00 "" "" $full $full @4294967296:8589934592 "")" "" \
	"$check" -w @4G:8G -c 0:
swap40="40.00% of swap free (858993459 of 2147483648 bytes)"
STANDIN_SWAP="2147483648 858993459" runs "check: swap between its levels" 1 \
	"MEMGLOW WARNING - $mem, $swap40|$(perf 20: 10: 40.00 50: 25: 858993459 2147483648)" "" \
	"$check" -w 20 -c 10 -W 50 -C 25
STANDIN_SWAP="2147483648 858993459" runs "check: swap below its levels" 2 \
	"MEMGLOW CRITICAL - $mem, $swap40|$(perf 60: 10: 40.00 50: 45: 858993459 2147483648)" "" \
	"$check" -w 60 -c 10 --swap-warning 50 --swap-critical 45
STANDIN_SWAP="0 0" runs "check: no swap is no swap problem" 0 \
	"MEMGLOW OK - $mem, no swap|$(perf 20: 10: '' '' '' 0 0)" "" "$check" -w 20 -c 10 -W 50 -C 25
for state in warning:1:WARNING critical:2:CRITICAL unknown:3:UNKNOWN OK:0:OK; do
	STANDIN_SWAP="0 0" runs "check: no swap, -n ${state%%:*}" "$(echo "$state" | cut -d: -f2)" \
		"MEMGLOW ${state##*:} - $mem, no swap|$(perf 20: 10: '' '' '' 0 0)" "" \
		"$check" -w 20 -c 10 --no-swap="${state%%:*}"
done
runs "check: verbose" 0 "$ok|$(perf 20: 10: 100.00 '' '' $full $full)
$(memglow -o -b)" "" "$check" -w 20 -c 10 -v
runs "check: memory alone, empty swap levels" 0 "$ok|$(perf 20: 10: 100.00 '' '' $full $full)" "" \
	"$check" -w 20 -c 10 -W '' -C ''
# The state goes by the figure as printed: 19.99996 % reads 20.00 %.
STANDIN_MEM="8589934592 1073741824 644241658" runs "check: the printed figure at the level" 0 \
	"MEMGLOW OK - 20.00% of memory free or in cache (1717983482 of 8589934592 bytes), $swap|'memory_free_or_cache'=20.00%;20:;10:;0;100 'memory_free_or_cache_bytes'=1717983482B;;;0;8589934592 'swap_free'=100.00%;;;0;100 'swap_free_bytes'=${full}B;;;0;$full" "" \
	"$check" -w 20 -c 10
STANDIN_FAIL=mem:1 runs "check: a failed sample" 3 \
	"MEMGLOW UNKNOWN - memglow failed (exit status 1): Error getting memory information." "" "$check" -w 20 -c 10
mkdir "$tmp/silent"
printf '#!/bin/sh\nexit 4\n' >"$tmp/silent/memglow"
chmod +x "$tmp/silent/memglow"
PATH=$tmp/silent:$PATH runs "check: a memglow that fails silently" 3 \
	"MEMGLOW UNKNOWN - memglow failed (exit status 4): it said nothing" "" "$check" -w 20 -c 10
PATH=$tmp/killed:$PATH runs "check: memglow killed by a signal" 3 \
	"MEMGLOW UNKNOWN - memglow was killed by signal SIGSYS (exit status 159)" "" "$check" -w 20 -c 10
# SIGKILL from elsewhere (the OOM killer), well before the time limit, is
# not a time-out, though timeout(1) gives the same status for both.
mkdir "$tmp/oom"
printf '#!/bin/sh\nkill -KILL $$\n' >"$tmp/oom/memglow"
chmod +x "$tmp/oom/memglow"
PATH=$tmp/oom:$PATH runs "check: memglow killed by SIGKILL" 3 \
	"MEMGLOW UNKNOWN - memglow was killed by signal SIGKILL (exit status 137)" "" "$check" -w 20 -c 10 -t 5
# The same figures and levels in a locale whose numbers take a decimal
# comma, as a monitoring system passes its own environment on.
if mkdir "$tmp/locale" && localedef -i de_DE -f UTF-8 "$tmp/locale/de_DE.UTF-8" >/dev/null 2>&1; then
	LOCPATH=$tmp/locale LANG=de_DE.UTF-8 LC_ALL="" STANDIN_MEM="8589934592 25769804 0" \
		runs "check: a decimal-comma locale" 2 \
		"MEMGLOW CRITICAL - 0.30% of memory free or in cache (25769804 of 8589934592 bytes), $swap|'memory_free_or_cache'=0.30%;0.5:;0.5:;0;100 'memory_free_or_cache_bytes'=25769804B;;;0;8589934592 'swap_free'=100.00%;;;0;100 'swap_free_bytes'=${full}B;;;0;$full" "" \
		"$check" -w 0.5 -c 0.5
else
	echo "SKIPPED: check: a decimal-comma locale (localedef cannot build de_DE.UTF-8: Debian's locales)"
fi
PATH=$tmp/nobin runs "check: no memglow" 3 "MEMGLOW UNKNOWN - memglow: not found on PATH" "" \
	"$check" -w 20 -c 10

# A memglow that hangs (at the stand-in's gate, which stays shut): the
# check ends by its own time limit, and leaves no process of its own
# behind (they carry this run's mark in their environment).  The bound is
# sixty times the limit, which only a check that ends late reaches, and
# the test's own limit (timeout 120) ends one that waits for memglow.
mkdir "$tmp/shut"
start=$(date +%s)
env "$mark" STANDIN_GATE="$tmp/shut" timeout 120 "$check" -w 20 -c 10 -t 01 >"$tmp/out" 2>"$tmp/err"
got=$?
took=$(($(date +%s) - start))
if [ "$got" != 3 ] || [ "$(cat "$tmp/out")" != "MEMGLOW UNKNOWN - memglow timed out after 1 seconds" ] ||
	[ -s "$tmp/err" ]; then
	fail "check: a hung memglow: status $got, $(cat "$tmp/out" "$tmp/err")"
fi
[ "$took" -lt 60 ] || fail "check: a hung memglow took $took s with -t 1"
left() { grep -l "$mark" /proc/[0-9]*/environ 2>/dev/null | grep -v "^/proc/$$/"; }
waitfor 30 sh -c "! grep -l '$mark' /proc/[0-9]*/environ 2>/dev/null | grep -qv '^/proc/$$/'" ||
	fail "check: left behind: $(left)"

# On a machine with every core busy, and more, no check that memglow
# answers at once waits out its timeout.
for _ in $(seq 0 "$(nproc 2>/dev/null || echo 1)"); do
	sh -c 'while :; do :; done' &
	busy="$busy $!"
done
# The time limit is far above what a check takes on a machine busier
# still (another run of the suite beside this one), so that only a check
# that waits it out comes near it.
slow=0
for _ in $(seq 1 30); do
	start=$(date +%s)
	"$check" -w 20 -c 10 -t 60 >"$tmp/out" 2>&1
	got=$?
	[ "$got" = 0 ] || fail "check: on a busy machine: status $got, $(cat "$tmp/out")"
	[ $(($(date +%s) - start)) -lt 60 ] || { slow=$((slow + 1)); break; }
done
# shellcheck disable=SC2086 # a list of pids
kill $busy
busy=
[ "$slow" = 0 ] || fail "check: on a busy machine, a check waited out -t 60"

usage="Usage: check_memglow -w LEVEL -c LEVEL [-W LEVEL -C LEVEL] [-n STATE] [-t SECONDS] [-v]"
badlevel() {  # the message for a bad level
	echo "MEMGLOW UNKNOWN - $1 must be a level: a percentage from 0 to 100 (20 or 20%), an amount (500M), or a range of them (20:, ~:80, 10:80, @10:20): '$2'"
}
for bad in "-w ten" "-c -1" "-W 100.5" "-w 20%:5G" "-w 30:20" "-w @20" "-c 5X" "-w 101%"; do
	# shellcheck disable=SC2086 # an option and its value
	set -- $bad
	case $1 in
	-w) args="-w $2 -c 5" ;;
	-c) args="-w 10 -c $2" ;;
	*) args="-w 10 -c 5 $1 $2 -C 5" ;;
	esac
	# shellcheck disable=SC2086 # options, split on purpose
	runs "check: a bad level: $bad" 3 "$(badlevel "$1" "$2")" "" "$check" $args
done
runs "check: critical above warning" 3 \
	"MEMGLOW UNKNOWN - the critical level (20) is above the warning level (10)" "" "$check" -w 10 -c 20
runs "check: critical above warning, amounts" 3 \
	"MEMGLOW UNKNOWN - the critical level (2G) is above the warning level (1G)" "" "$check" -w 1G -c 2G
runs "check: swap critical above swap warning" 3 \
	"MEMGLOW UNKNOWN - the swap critical level (30) is above the swap warning level (20)" "" \
	"$check" -w 10 -c 5 -W 20 -C 30
runs "check: a bad state" 3 "MEMGLOW UNKNOWN - -n must be ok, warning, critical or unknown: 'fine'" "" \
	"$check" -w 10 -c 5 -n fine
# Every spelling of 0 would turn the limit off.
for t in 0 00 000 '' 1.5 -1 5s; do
	runs "check: a bad timeout: '$t'" 3 "MEMGLOW UNKNOWN - --timeout must be a whole number of seconds above 0: '$t'" "" \
		"$check" -w 10 -c 5 --timeout="$t"
done
runs "check: no levels" 3 "MEMGLOW UNKNOWN - -w and -c are required
$usage" "" "$check"
runs "check: a swap level alone" 3 "MEMGLOW UNKNOWN - -W and -C go together
$usage" "" "$check" -w 10 -c 5 -W 20
runs "check: a level missing its value" 3 "MEMGLOW UNKNOWN - -c needs a value
$usage" "" "$check" -w 10 -c
runs "check: an unknown option" 3 "MEMGLOW UNKNOWN - unknown argument: '-x'
$usage" "" "$check" -x -w 10 -c 5
runs "check: version" 3 "check_memglow 0.9.3-3 (memglow)" "" "$check" --version
"$check" --help >"$tmp/out"
[ $? = 3 ] || fail "check: --help does not exit 3"
grep -qxF "$usage" "$tmp/out" || fail "check: --help shows no usage"

[ "$failures" = 0 ] || { echo "contrib.sh: $failures failures"; exit 1; }
echo "contrib.sh: all passed"
