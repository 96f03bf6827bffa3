#!/bin/sh
# SPDX-License-Identifier: ISC
# shells.sh MEMGLOW STANDIN [SHELL...]: a refreshing run under job control as real
# interactive shells do it, in tmux: bash, zsh, mksh and dash (each found
# by trying), and, as root, bash as another user (su), whose terminal the
# run cannot open by its name, the run under sudo (on a terminal of sudo's)
# and under runuser (which continues it twice), and su and runuser -c ended
# by ^C, which leave the run behind on the terminal; and setsid, on a
# terminal that is not the run's controlling one.  Each case types into the
# shell what a user types (& and fg; ^Z, bg and fg; ^Z and fg, once or
# twice; each with ^S held across it; a resize behind ^S; ^Z, ^C or a kill
# from outside, also under a script that traps ^C and under make), lets
# each sample through a gate of the stand-in, and
# waits for what the shell and the run write.  The shell's lines (the
# typed commands, the echoed command lines, the job lines) must stay, and
# the screen must end with one whole report below them.  A shell that is
# not installed is left out with a line that says so; exits 77 where none
# is.  SHELL is bash, zsh, mksh, dash, su or setsid; all by default.
set -u
memglow=$1 standin=$2
shift 2
shells=${*:-bash zsh mksh dash su setsid}
command -v tmux >/dev/null 2>&1 || { echo "shells.sh: no tmux here"; exit 77; }
tmp=$(mktemp -d) || exit 1
chmod 755 "$tmp"
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
guard
socket=
# The runs carry the mark in their environment: whatever tmux leaves, the
# test ends.
# Ends the tmux server of a case, and takes its socket away.
endserver() {
	[ -z "$socket" ] || endtmux "$socket"
	socket=
}
# shellcheck disable=SC2317 # called by the trap
cleanup() {
	endserver
	killmarked "$mark"
	rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
ran=0
# The user a case's run runs as, where it is not the test's.
runas=

# Six samples whose Physical lines read 50, 62, 75, 87, 25 and 37 %.
figures="8589934592 1073741824 3221225472;8589934592 2147483648 3221225472"
figures="$figures;8589934592 3221225472 3221225472;8589934592 4294967296 3221225472"
figures="$figures;8589934592 1073741824 1073741824;8589934592 2147483648 1073741824"
percent() {
	case $1 in 1) echo 50 ;; 2) echo 62 ;; 3) echo 75 ;; 4) echo 87 ;; 5) echo 25 ;; 6) echo 37 ;; esac
}
mkdir "$tmp/bin"
# Copies of the program and the stand-in, which another user (su) can reach
# wherever the build is (a clone in /root).
sh "$(dirname "$0")/reachable.sh" "$tmp/bin" "$memglow" "$standin" || exit 1
# The shells start with a bare environment; memglow keeps the emulator's
# loader prefix where it runs under qemu-user.
# Each case's runs wait at gates of the case's own (newgate), so that a run
# an earlier case left at its gate never takes, or races, the next case's.
gates=0
newgate() {
	gates=$((gates + 1))
	gate=$tmp/gate$gates
	# Only the user the run runs as (and root) may write in it; the
	# folder above it is the test's.
	mkdir -m 700 "$gate" || exit 1
	[ -z "$runas" ] || chown "$runas" "$gate" || exit 1
	cat >"$tmp/bin/mg.new" <<EOF
#!/bin/sh
${QEMU_LD_PREFIX:+QEMU_LD_PREFIX=$QEMU_LD_PREFIX }$mark LD_LIBRARY_PATH=$tmp/bin/lib LD_PRELOAD=$tmp/bin/standin.so STANDIN_GATE=$gate STANDIN_MEM='$figures' exec $tmp/bin/memglow "\$@"
EOF
	chmod 755 "$tmp/bin/mg.new" && mv -f "$tmp/bin/mg.new" "$tmp/bin/mg" || exit 1
}
newgate

# shown: the pane, its history first, rows that a line wraps onto joined,
# without trailing blanks.
shown() {
	tmux -L "$socket" capture-pane -p -J -S - -E - | sed 's/ *$//' | awk '{ line[NR] = $0 } NF { last = NR }
		END { for (i = 1; i <= last; i++) print line[i] }'
}
# waitfor WHAT COMMAND...: until the command succeeds; after 60 s the case
# fails, saying what it waited for.
waitfor() {
	what=$1
	shift
	deadline=$(capped 60)
	until "$@"; do
		if [ "$(date +%s)" -ge "$deadline" ]; then
			echo "FAIL: $case: waited 60 s for $what"
			shown | sed 's/^/  | /'
			return 1
		fi
		sleep 0.1
	done
}
# drawn N: report N is on screen, whole (a job in the background may see
# the shell's prompt written after it).
drawn() {
	shown | awk -v pct="$(percent "$1")%" '
		/Physical  : \[/ && index($0, "] " pct " ") { at = NR }
		at && NR == at + 1 && /^Swap      : \[/ { swap = 1 }
		at && NR == at + 2 && /^Total     : \[.*\)/ { total = 1 }
		END { exit !(at && swap && total) }'
}
# prompted: the shell waits for a command, on a line of its own.
prompted() {
	[ "$(shown | tail -n 1)" = "\$" ] || [ "$(shown | tail -n 1)" = "\$ " ]
}
# after REGEX: a line below the last typed command matches.
after() {
	shown | awk -v re="$1" -v cmd="$typed" '$0 == "$ " cmd { n = NR } n && NR > n && $0 ~ re { found = 1 }
		END { exit !found }'
}

# run STEPS: a case's steps, one a line, each waited for:
#   type:TEXT   types TEXT and Enter, once the shell waits for a command
#   prompt      waits for the shell to wait for a command
#   key:KEY     presses a key (C-z, C-s, C-q)
#   open:N      lets sample N through, once it is waited for
#   report:N    waits for report N
#   job:REGEX   waits for a line of the shell below the last typed command
#   width:W     resizes the pane
#   kill:SIG    sends SIG to the case's run, from outside the terminal
#   line        presses Enter (a fresh prompt below a report)
#   ended       waits until no run of the case's is left running
run() {
	while IFS= read -r step; do
		case $step in
		type:*)
			waitfor "a prompt before '${step#type:}'" prompted || return 1
			typed=${step#type:}
			tmux -L "$socket" send-keys -l "$typed"
			tmux -L "$socket" send-keys Enter
			;;
		prompt) waitfor "a prompt" prompted || return 1 ;;
		key:*) tmux -L "$socket" send-keys "${step#key:}" ;;
		line) tmux -L "$socket" send-keys Enter ;;
		open:*)
			# The gate's folder may be another user's: mkdir makes
			# the name afresh or fails, and follows no link.
			mkdir "$gate/${step#open:}" || return 1
			waitfor "sample ${step#open:} to be taken" test -e "$gate/${step#open:}.taken" || return 1
			;;
		report:*) waitfor "report ${step#report:}" drawn "${step#report:}" || return 1 ;;
		job:*) waitfor "'${step#job:}' below '$typed'" after "${step#job:}" || return 1 ;;
		width:*) tmux -L "$socket" resize-window -x "${step#width:}" ;;
		kill:*)
			for pid in $(runs | grep -vxF "$earlier"); do
				kill -s "${step#kill:}" "$pid" || return 1
			done
			;;
		ended) waitfor "the run to end" notrunning || return 1 ;;
		esac
	done <<EOF
$1
EOF
}

# runs: the runs that carry the mark (one that ended may stay a zombie
# until init reaps it, without an environment to carry it).
runs() {
	for pid in $(marked "$mark"); do
		[ "$(cat "/proc/$pid/comm" 2>/dev/null)" != memglow ] || echo "$pid"
	done
}
# notrunning: none of the case's own runs is left; those of earlier cases
# wait at a gate until the test ends.
notrunning() {
	! runs | grep -qvxF "$earlier"
}

# ends N TYPED...: the typed commands are lines of their own, in order; the
# last is followed by the shell's lines, and then by report N alone.  N+
# lets whole reports stand between them too (a resize leaves the report
# on screen where it can no longer be found).
ends() {
	want=${1%+} whole=
	[ "$want" = "$1" ] || whole=1
	shift
	printf '$ %s\n' "$@" >"$tmp/typed"
	shown >"$tmp/shown"
	awk -v pct="$(percent "$want")%" -v last="$(tail -n 1 "$tmp/typed")" -v whole="$whole" '
		FILENAME == ARGV[1] { typed[++ntyped] = $0; next }
		{ line[++n] = $0 }
		END {
			t = 1
			for (i = 1; i <= n; i++)
				if (t <= ntyped && line[i] == typed[t])
					at[t++] = i
			if (t <= ntyped) {
				print "the typed \"" typed[t] "\" is gone"
				exit 1
			}
			from = at[ntyped]
			for (i = from + 1; i <= n && line[i] !~ /^Physical  : \[/; i++)
				;
			while (whole && i + 5 <= n && line[i + 1] ~ /^Swap      : \[/ && line[i + 2] ~ /^Total     : \[.*\)$/)
				i += 3
			for (j = from + 1; j < i; j++)
				if (line[j] ~ /^(Physical  |Swap      |Total     ): \[/ && !whole) {
					print "a report above the last, at line " j
					exit 1
				}
			if (i + 2 != n || index(line[i], "] " pct " ") == 0 || line[i + 1] !~ /^Swap      : \[/ ||
			    line[i + 2] !~ /^Total     : \[.*\)$/) {
				print "the screen does not end with report " pct " alone below \"" last "\""
				exit 1
			}
			for (j = from + 1; j < i; j++)
				if (line[j] != "")
					shell = 1
			if (!shell && last ~ /^\$ fg/) {
				print "the echoed command line of fg is gone"
				exit 1
			}
		}' "$tmp/typed" "$tmp/shown" >"$tmp/why" || {
		echo "FAIL: $case: $(cat "$tmp/why")"
		sed 's/^/  | /' "$tmp/shown"
		return 1
	}
}

# left N TYPED... OUTPUT: the typed commands are lines of their own, in
# order, with report N alone and whole between the first and the second
# (rows of the terminal's own, such as an echoed ^C, may follow its last
# row), and the last typed command is followed by the line OUTPUT and the
# prompt alone: a run left behind drew nothing over the shell's lines.
left() {
	want=$1
	shift
	: >"$tmp/typed"
	while [ $# -gt 1 ]; do
		printf '$ %s\n' "$1" >>"$tmp/typed"
		shift
	done
	shown >"$tmp/shown"
	awk -v pct="$(percent "$want")%" -v output="$1" '
		FILENAME == ARGV[1] { typed[++ntyped] = $0; next }
		{ line[++n] = $0 }
		END {
			t = 1
			for (i = 1; i <= n; i++)
				if (t <= ntyped && line[i] == typed[t])
					at[t++] = i
			if (t <= ntyped) {
				print "the typed \"" typed[t] "\" is gone"
				exit 1
			}
			for (i = 1; i <= n; i++)
				if (line[i] ~ /^(Physical  |Swap      |Total     ): \[/) {
					rows++
					if (!first)
						first = i
				}
			if (rows != 3 || first < at[1] || (ntyped > 1 && first > at[2]) ||
			    index(line[first], "] " pct " ") == 0 || line[first + 1] !~ /^Swap      : \[/ ||
			    line[first + 2] !~ /^Total     : \[.*\)(\^C)?$/) {
				print "not report " pct " alone and whole below \"" typed[1] "\""
				exit 1
			}
			if (line[at[ntyped] + 1] != output || at[ntyped] + 2 != n || line[n] !~ /^\$ ?$/) {
				print "\"" typed[ntyped] "\" is not followed by \"" output "\" and the prompt alone"
				exit 1
			}
		}' "$tmp/typed" "$tmp/shown" >"$tmp/why" || {
		echo "FAIL: $case: $(cat "$tmp/why")"
		sed 's/^/  | /' "$tmp/shown"
		return 1
	}
}

# leaves N TYPED REGEX...: report N is the last below the typed command,
# whole, its last row ending with no more than the terminal's echo of ^Z or
# ^C; and the lines below it match the REGEXes, one each, and end the
# screen: the shell's lines are whole, none glued to the report.  A REGEX
# ... stands for any lines between those before it and those after it.
leaves() {
	want=$1 last=$2
	shift 2
	printf '%s\n' "$@" >"$tmp/below"
	shown >"$tmp/shown"
	awk -v pct="$(percent "$want")%" -v cmd="\$ $last" '
		FILENAME == ARGV[1] { below[++nbelow] = $0; next }
		{ line[++n] = $0 }
		END {
			for (i = 1; i <= n; i++)
				if (line[i] == cmd)
					from = i
			if (!from) {
				print "the typed \"" cmd "\" is gone"
				exit 1
			}
			for (i = from + 1; i <= n; i++)
				if (line[i] ~ /^Physical  : \[/)
					at = i
			if (!at || index(line[at], "] " pct " ") == 0 || line[at + 1] !~ /^Swap      : \[/ ||
			    line[at + 2] !~ /^Total     : \[.*\)(\^[CZ])?$/) {
				print "report " pct " is not the last, whole, with nothing glued to its last row"
				exit 1
			}
			for (j = 1; j <= nbelow && below[j] != "..."; j++)
				;
			gap = j <= nbelow
			if (gap ? at + nbelow + 1 > n : at + 2 + nbelow != n) {
				print n - at - 2 " lines below the report, not " nbelow - gap
				exit 1
			}
			for (j = 1; j <= nbelow && below[j] != "..."; j++)
				if (line[at + 2 + j] !~ below[j]) {
					print "below the report, line " j " does not match " below[j]
					exit 1
				}
			for (k = nbelow; gap && below[k] != "..."; k--)
				if (line[n - nbelow + k] !~ below[k]) {
					print "below the report, line " n - nbelow + k - at - 2 " does not match " below[k]
					exit 1
				}
		}' "$tmp/below" "$tmp/shown" >"$tmp/why" || {
		echo "FAIL: $case: $(cat "$tmp/why")"
		sed 's/^/  | /' "$tmp/shown"
		return 1
	}
}

# scenario NAME SHELL-COMMAND WIDTH STEPS... -- N TYPED...: a case in a new
# tmux server whose pane runs the shell.
scenario() {
	case=$1 pane=$2 width=$3
	shift 3
	steps=
	while [ "$1" != -- ]; do
		steps="$steps$1
"
		shift
	done
	shift
	newgate
	typed=
	earlier=$(runs)
	socket=memglow-shells-$$-$(printf '%s' "$case" | tr -c 'a-z0-9' -)
	env "$mark" tmux -L "$socket" -f /dev/null new-session -d -x "$width" -y 40 "$pane"
	if run "$steps" && "${endcheck:-ends}" "$@"; then
		echo "ok: $case"
	else
		failures=$((failures + 1))
	fi
	endserver
}

# mksh sets root's prompt itself, but after reading $ENV.
echo "PS1='\$ '" >"$tmp/shrc"
env="env -i PATH=$tmp/bin:/usr/bin:/bin TERM=screen HOME=$tmp PS1='\$ ' ENV=$tmp/shrc"
cmd="mg -t -s 0.2"
for shell in $shells; do
	case $shell in su | setsid) continue ;; esac
	if ! command -v "$shell" >/dev/null 2>&1; then
		echo "SKIPPED: $shell is not installed"
		continue
	fi
	ran=$((ran + 1))
	case $shell in
	bash) line="$env bash --norc --noprofile -i" ;;
	zsh) line="$env PROMPT='\$ ' zsh -f -i" ;;
	*) line="$env $shell -i" ;;
	esac
	scenario "$shell: & then fg" "$line" 80 "type:$cmd &" prompt open:1 report:1 line type:fg job:mg \
		open:2 report:2 open:3 report:3 -- 3 "$cmd &" fg
	scenario "$shell: ^Z, bg, fg" "$line" 80 "type:$cmd" open:1 report:1 key:C-z type:bg job:mg \
		prompt open:2 report:2 line type:fg job:mg open:3 report:3 open:4 report:4 -- 4 "$cmd" bg fg
	scenario "$shell: ^Z, fg" "$line" 80 "type:$cmd" open:1 report:1 key:C-z type:fg job:mg \
		open:2 report:2 open:3 report:3 -- 3 "$cmd" fg
	# A second ^Z before the next refresh: each continue after a stop
	# starts afresh below the shell's lines.
	scenario "$shell: ^Z, fg, ^Z, fg" "$line" 80 "type:$cmd" open:1 report:1 key:C-z type:fg job:mg \
		open:2 report:2 key:C-z type:fg job:mg open:3 report:3 -- 3 "$cmd" fg fg
	# ^S held while the run stops, the shell says so, and fg continues it.
	scenario "$shell: ^S, ^Z, ^Q, fg" "$line" 80 "type:$cmd" open:1 report:1 key:C-s open:2 key:C-z \
		key:C-q type:fg job:mg report:2 open:3 report:3 -- 3 "$cmd" fg
	# ^S held over the first report back in the foreground.  (Typed
	# while ^S holds the terminal, fg's echo and the report would race.)
	scenario "$shell: &, fg, ^S, ^Q" "$line" 80 "type:$cmd &" prompt open:1 report:1 line type:fg \
		job:mg key:C-s open:2 key:C-q report:2 open:3 report:3 -- 3 "$cmd &" fg
	# What the shell writes once the run stops or ends, on lines of its
	# own: bash and zsh start the job line of a stop on a new line, and
	# the run gives its newline back first for dash and mksh, which do
	# not (one empty line in bash and zsh rather than a line glued in
	# dash and mksh); every shell ends the line after a ^C that ended its
	# job itself, so the run leaves it to the shell, but not to make or a
	# script's trap; none does before the message of a kill.
	case $shell in
	bash | zsh) stopped='^$' ;;
	*) stopped= ;;
	esac
	case $shell in
	zsh) job='^zsh: suspended  ' terminated='^zsh: terminated  ' hangup='^zsh: hangup  ' ;;
	*) job='^\[1\] *\+ *Stopped  ' terminated='^Terminated$' hangup='^Hangup$' ;;
	esac
	endcheck=leaves
	scenario "$shell: ^Z" "$line" 80 "type:$cmd" open:1 report:1 key:C-z prompt -- 1 "$cmd" \
		${stopped:+"$stopped"} "$job" '^\$$'
	scenario "$shell: ^C" "$line" 80 "type:$cmd" open:1 report:1 key:C-c prompt ended -- 1 "$cmd" '^\$$'
	scenario "$shell: kill -INT" "$line" 80 "type:$cmd" open:1 report:1 kill:INT prompt ended -- 1 "$cmd" \
		'^$' '^\$$'
	scenario "$shell: kill -TERM" "$line" 80 "type:$cmd" open:1 report:1 kill:TERM prompt ended -- 1 "$cmd" \
		"$terminated" '^\$$'
	scenario "$shell: kill -HUP" "$line" 80 "type:$cmd" open:1 report:1 kill:HUP prompt ended -- 1 "$cmd" \
		"$hangup" '^\$$'
	trapped="sh -c 'trap \"echo trapped\" INT; $cmd; echo after'"
	scenario "$shell: ^C in a script that traps it" "$line" 80 "type:$trapped" open:1 report:1 key:C-c \
		prompt ended -- 1 "$trapped" '^trapped$' '^after$' '^\$$'
	# (make may say "wait: No child processes" too, always under dash.)
	if command -v make >/dev/null 2>&1; then
		printf 'run:\n\t%s\n' "$cmd" >"$tmp/Makefile"
		made="make -s -f $tmp/Makefile"
		scenario "$shell: ^C under make" "$line" 80 "type:$made" open:1 report:1 key:C-c prompt ended \
			-- 1 "$made" '^make: \*\*\* ' ... '^\$$'
	fi
	endcheck=
done

# Another user's shell on this terminal: the run cannot open the terminal
# by its name, and takes /dev/tty.
if [ "${shells#*su}" = "$shells" ]; then
	:
elif [ "$(id -u)" -ne 0 ]; then
	echo "SKIPPED: su to another user needs root"
elif ! command -v su >/dev/null 2>&1 || ! command -v bash >/dev/null 2>&1; then
	echo "SKIPPED: su to another user needs su and bash"
elif ! su -s /bin/sh nobody -c "test -x $tmp/bin/mg && test -r $tmp/bin/standin.so" 2>/dev/null; then
	echo "SKIPPED: nobody cannot reach $tmp (a TMPDIR in a private folder?)"
else
	ran=$((ran + 1))
	runas=nobody
	# su keeps the session, and so the controlling terminal, of the shell
	# it runs without -c.
	printf '#!/bin/sh\nexec env PS1="$ " PATH=%s bash --norc --noprofile -i\n' "$tmp/bin:/usr/bin:/bin" \
		>"$tmp/bin/usershell"
	chmod 755 "$tmp/bin/usershell"
	line="$env su -s $tmp/bin/usershell nobody"
	scenario "su: ^S, widened, ^Q" "$line" 80 "type:echo above" "type:$cmd" open:1 report:1 key:C-s open:2 \
		width:120 key:C-q open:3 report:3 -- 3+ "echo above" "$cmd"
	scenario "su: ^S, ^Z, ^Q, bg" "$line" 80 "type:$cmd" open:1 report:1 key:C-s open:2 key:C-z \
		key:C-q type:bg job:mg report:2 line type:fg job:mg open:3 report:3 -- 3 "$cmd" bg fg
	# sudo runs the program on a terminal of its own (use_pty, Debian's
	# default); after ^Z and fg it gives that terminal's foreground back.
	if sudo=$(command -v sudo); then
		runas=
		line="$env bash --norc --noprofile -i"
		assudo="$sudo $tmp/bin/$cmd"
		scenario "sudo: ^Z, fg" "$line" 80 "type:$assudo" open:1 report:1 key:C-z type:fg job:mg \
			open:2 report:2 open:3 report:3 -- 3 "$assudo" fg
	fi
	# runuser continues its child once more after the shell's fg: one
	# report afresh below, not two.
	if runuser=$(command -v runuser); then
		runas=nobody
		line="$env bash --norc --noprofile -i"
		asuser="$runuser -u nobody -- $cmd"
		scenario "runuser: ^Z, fg" "$line" 80 "type:$asuser" open:1 report:1 key:C-z type:fg job:mg \
			open:2 report:2 open:3 report:3 -- 3 "$asuser" fg
	fi
	# su and runuser -c start the command's shell in a session of its
	# own, where dash keeps the run its child.  ^C ends su, which ends that
	# shell but not the run: left behind on a terminal that is not its
	# controlling one, it ends at its next report, as a hang-up would end
	# it, drawing nothing over the shell's lines.
	endcheck=left
	for wrapper in su runuser; do
		path=$(command -v "$wrapper") || continue
		line="$env bash --norc --noprofile -i"
		behind="echo top; $path nobody -s /bin/sh -c '$tmp/bin/$cmd'"
		scenario "$wrapper -c: ^C, then a command" "$line" 100 "type:$behind" open:1 report:1 \
			open:2 report:2 key:C-c prompt open:3 ended "type:echo typed-after" job:typed-after \
			prompt -- 2 "$behind" "echo typed-after" typed-after
	done
	endcheck=
fi

# setsid makes the run its own session's leader, on a terminal that is not
# its controlling one: it goes on drawing in place.
if [ "${shells#*setsid}" = "$shells" ]; then
	:
elif ! command -v setsid >/dev/null 2>&1 || ! command -v bash >/dev/null 2>&1; then
	echo "SKIPPED: setsid needs setsid and bash"
else
	ran=$((ran + 1))
	line="$env bash --norc --noprofile -i"
	alone="echo top; setsid -w $cmd >\$(tty)"
	scenario "setsid: a session of its own" "$line" 80 "type:$alone" open:1 report:1 open:2 report:2 \
		open:3 report:3 -- 3 "$alone"
fi

[ "$failures" = 0 ] || { echo "shells.sh: $failures failures"; exit 1; }
[ "$ran" -gt 0 ] || exit 77
echo "shells.sh: all passed"
