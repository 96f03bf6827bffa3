#!/bin/sh
# SPDX-License-Identifier: ISC
# terminals.sh MEMGLOW STANDIN TERMINAL: a refreshing run in a real terminal
# made shorter.  One that keeps its top rows, and moves the cursor up into
# them: the shell's lines that the terminal kept stay whole, and the next
# report is drawn once, below them, then in place.  TERMINAL is mosh
# (mosh-client in tmux, mosh-server reached by ssh through an sshd that the
# test starts on 127.0.0.1; root only) or urxvt (rxvt-unicode under Xvfb,
# whose screen an extension of the test writes to a file).  Or GNU screen
# (screen, in tmux), which keeps the cursor's row and scrolls the rows above
# it into its history: the shell's lines stay whole, and the report leaves
# one copy, whole, in the history.  Each sample
# waits at a gate of the stand-in, and the test waits for the terminal's new
# size to reach the run before it lets the next one through.  A terminal
# that is not installed is left out with a line that says so (exit 77).
set -u
memglow=$1 standin=$2 terminal=$3
tmp=$(mktemp -d) || exit 1
chmod 755 "$tmp"
# shellcheck source=tests/lib.sh
. "$(dirname "$0")/lib.sh"
guard
socket=
# shellcheck disable=SC2317 # called by the trap
cleanup() {
	[ -z "$socket" ] || endtmux "$socket"
	[ -z "${sshd:-}" ] || kill "$sshd" 2>/dev/null
	killmarked "$mark"
	[ -z "${xvfb:-}" ] || kill "$xvfb" 2>/dev/null
	rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

# Three samples whose Physical lines read 50, 62 and 75 %.
figures="8589934592 1073741824 3221225472;8589934592 2147483648 3221225472"
figures="$figures;8589934592 3221225472 3221225472"
mkdir "$tmp/bin" "$tmp/gate"
sh "$(dirname "$0")/reachable.sh" "$tmp/bin" "$memglow" "$standin" || exit 1
cat >"$tmp/bin/mg" <<EOF
#!/bin/sh
${QEMU_LD_PREFIX:+QEMU_LD_PREFIX=$QEMU_LD_PREFIX }$mark LD_LIBRARY_PATH=$tmp/bin/lib LD_PRELOAD=$tmp/bin/standin.so STANDIN_GATE=$tmp/gate STANDIN_MEM='$figures' exec $tmp/bin/memglow "\$@"
EOF
chmod 755 "$tmp/bin/mg"
# The shell's lines, as many as the terminal's case has, then the run.
lines=10 rows=5
[ "$terminal" != urxvt ] || lines=15 rows=6
[ "$terminal" != screen ] || lines=9 rows=3
typed="clear; for i in $(seq 1 "$lines" | tr '\n' ' '); do echo line\$i; done; $tmp/bin/mg -t -s 0.5"

# screen: the screen as the terminal shows it, one row a line, without
# trailing blanks; shrink ROWS: makes the terminal that many rows tall; each
# set below for its terminal.
# showing REGEX: a row of the screen matches.
# shellcheck disable=SC2317 # called by waitfor
showing() {
	screen | grep -q -- "$1"
}
# The run's terminal has ROWS rows.
# shellcheck disable=SC2317 # called by waitfor
runsat() {
	for pid in $(marked "$mark"); do
		[ "$(cat "/proc/$pid/comm" 2>/dev/null)" = memglow ] || continue
		[ "$(stty -F "/proc/$pid/fd/1" size 2>/dev/null)" = "$1 100" ] && return 0
	done
	return 1
}
# open N: lets sample N through, and waits until it is taken.
open() {
	: >"$tmp/gate/$1"
	waitfor 60 test -e "$tmp/gate/$1.taken" || { fail "$terminal: sample $1 was never taken"; return 1; }
}
# shows PERCENT: waits for the report.
shows() {
	waitfor 60 showing "] $1% " || { fail "$terminal: report $1% never showed"; screen; return 1; }
}
# kept LAST PERCENT: the screen shows the shell's lines up to line LAST, each
# whole and in order, then report PERCENT once, whole, and nothing below.
kept() {
	screen >"$tmp/shown"
	awk -v last="line$1" -v pct="] $2% " '
		/^line[0-9]+$/ { if (NR > 1 && prev !~ /^line/) bad = 1; prev = $0; n = NR; next }
		/^Physical  : \[/ { reports++; if (prev != last || !index($0, pct)) bad = 1; at = NR }
		{ prev = $0 }
		END {
			if (bad || reports != 1) exit 1
			if (NR != at + 2) exit 1
		}' "$tmp/shown" || {
		fail "$terminal: not the lines up to line$1 and report $2% below them, once"
		sed 's/^/  | /' "$tmp/shown"
	}
}

# whole ROWS PERCENT: the screen and the history show the shell's lines,
# each whole and in order, then the reports, each whole, and report PERCENT
# last: one copy at most.
whole() {
	screen >"$tmp/shown"
	awk -v lines="$lines" -v pct="] $2% " '
		/^line[0-9]+$/ { if ($0 != "line" ++n || reports) bad = 1; next }
		/^Physical  : \[/ { reports++; last = $0; at = NR; next }
		/^Swap      : \[/ { if (NR != at + 1) bad = 1; next }
		/^Total     : \[/ { totals++; if (NR != at + 2) bad = 1; next }
		END {
			if (bad || n != lines || reports != totals || reports > 2 || !index(last, pct) || NR != at + 2)
				exit 1
		}' "$tmp/shown" || {
		fail "$terminal: not the lines and at most one whole copy above report $2%"
		sed 's/^/  | /' "$tmp/shown"
	}
}

case $terminal in
mosh)
	for tool in tmux mosh mosh-server /usr/sbin/sshd ssh ssh-keygen setpriv; do
		command -v "$tool" >/dev/null 2>&1 || { echo "terminals.sh: mosh needs $tool, not installed"; exit 77; }
	done
	[ "$(id -u)" -eq 0 ] || { echo "terminals.sh: mosh needs root here, to start sshd"; exit 77; }
	# An sshd of the test's own on 127.0.0.1, with keys made for it, on
	# the first free port from a random one.
	ssh-keygen -q -t ed25519 -N '' -f "$tmp/hostkey" && ssh-keygen -q -t ed25519 -N '' -f "$tmp/userkey" || exit 1
	cp "$tmp/userkey.pub" "$tmp/authorized_keys"
	mkdir -p /run/sshd
	port=$((20000 + $$ % 20000))
	cat >"$tmp/sshd_config" <<-EOF
		ListenAddress 127.0.0.1
		HostKey $tmp/hostkey
		AuthorizedKeysFile $tmp/authorized_keys
		PasswordAuthentication no
		KbdInteractiveAuthentication no
		PermitRootLogin prohibit-password
		UsePAM no
		StrictModes no
	EOF
	ssh="ssh -p PORT -i $tmp/userkey -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o BatchMode=yes"
	sshd=
	for try in 1 2 3 4 5 6 7 8 9 10; do
		port=$((port + try))
		# sshd writes its title over its environment, and so over the
		# mark: it ends with this shell, however this shell ends.
		setpriv --pdeathsig KILL /usr/sbin/sshd -D -f "$tmp/sshd_config" -p "$port" -E "$tmp/sshd.log" &
		sshd=$!
		# It ends at once where the port is taken.
		deadline=$(capped 30)
		until $(echo "$ssh" | sed "s/PORT/$port/") root@127.0.0.1 true 2>/dev/null; do
			if ! kill -0 "$sshd" 2>/dev/null || [ "$(date +%s)" -ge "$deadline" ]; then
				sshd=
				break
			fi
			sleep 0.1
		done
		[ -z "$sshd" ] || break
	done
	[ -n "$sshd" ] || { echo "terminals.sh: no sshd of the test's would start"; cat "$tmp/sshd.log"; exit 1; }
	ssh=$(echo "$ssh" | sed "s/PORT/$port/")
	# mosh-server carries the mark, so that whatever the test leaves ends.
	printf '#!/bin/sh\nexec env LANG=C.UTF-8 mosh --ssh="%s" --server="env %s mosh-server" root@127.0.0.1 -- env PS1="\\$ " TERM=xterm bash --norc --noprofile -i\n' \
		"$ssh" "$mark" >"$tmp/moshin"
	chmod 755 "$tmp/moshin"
	socket=memglow-terminals-$$
	env "$mark" tmux -L "$socket" -f /dev/null new-session -d -x 100 -y 30 "$tmp/moshin"
	screen() {
		tmux -L "$socket" capture-pane -p | sed 's/ *$//' | awk '{ line[NR] = $0 } NF { last = NR }
			END { for (i = 1; i <= last; i++) print line[i] }'
	}
	shrink() { tmux -L "$socket" resize-window -y "$1"; }
	waitfor 60 showing '^\$' || { fail "mosh: no prompt"; screen; exit 1; }
	tmux -L "$socket" send-keys -l "$typed"
	tmux -L "$socket" send-keys Enter
	;;
urxvt)
	for tool in Xvfb urxvt xdotool setpriv; do
		command -v "$tool" >/dev/null 2>&1 || { echo "terminals.sh: urxvt needs $tool, not installed"; exit 77; }
	done
	# An X server of the test's own, on the first free display; and a
	# perl extension of urxvt's that writes its screen, history first,
	# and its window, to files.
	setpriv --pdeathsig KILL Xvfb -displayfd 3 -nolisten tcp -screen 0 1600x1200x24 \
		3>"$tmp/display" 2>"$tmp/xvfb.log" &
	xvfb=$!
	# shellcheck disable=SC2317 # called by waitfor
	displayed() { [ -s "$tmp/display" ]; }
	waitfor 60 displayed || { echo "terminals.sh: Xvfb would not start"; cat "$tmp/xvfb.log"; exit 1; }
	DISPLAY=:$(cat "$tmp/display")
	export DISPLAY
	mkdir "$tmp/perl"
	cat >"$tmp/perl/screendump" <<-'EOF'
		#! perl
		sub on_start {
			my ($self) = @_;
			$self->{dump} = urxvt::timer->new->interval(0.1)->cb(sub { writescreen($self) });
			();
		}
		sub writescreen {
			my ($self) = @_;
			my $file = $ENV{SCREENDUMP};
			open my $f, '>', "$file.new" or return;
			for my $row ($self->top_row .. $self->nrow - 1) {
				my $text = $self->ROW_t($row);
				$text =~ s/ +$//;
				print $f "$text\n";
			}
			printf $f "window %d\n", $self->parent;
			close $f;
			rename "$file.new", $file;
		}
	EOF
	env "$mark" SCREENDUMP="$tmp/screen" urxvt -geometry 100x30 -perl-lib "$tmp/perl" -pe screendump \
		-e sh -c "$typed" 2>"$tmp/urxvt.log" &
	screen() {
		grep -v '^window ' "$tmp/screen" 2>/dev/null | awk '{ line[NR] = $0 } NF { last = NR }
			END { for (i = 1; i <= last; i++) print line[i] }'
	}
	shrink() { xdotool windowsize --usehints "$(sed -n 's/^window //p' "$tmp/screen")" 100 "$1"; }
	;;
screen)
	for tool in tmux screen; do
		command -v "$tool" >/dev/null 2>&1 || { echo "terminals.sh: screen needs $tool, not installed"; exit 77; }
	done
	SCREENDIR=$tmp/screens
	export SCREENDIR
	mkdir -m 700 "$SCREENDIR"
	socket=memglow-terminals-$$
	env "$mark" tmux -L "$socket" -f /dev/null new-session -d -x 100 -y 30 \
		"screen -S memglow-$$ -c /dev/null sh -c '$typed'"
	# screen writes its hardcopy when it comes to the command.
	# shellcheck disable=SC2317 # called by waitfor
	copied() { [ -e "$tmp/hardcopy" ]; }
	screen() {
		rm -f "$tmp/hardcopy"
		command screen -S "memglow-$$" -X hardcopy -h "$tmp/hardcopy" &&
			waitfor 60 copied && sed 's/ *$//' "$tmp/hardcopy" | awk '{ line[NR] = $0 } NF { last = NR }
			END { for (i = 1; i <= last; i++) print line[i] }'
	}
	shrink() { tmux -L "$socket" resize-window -y "$1"; }
	;;
*)
	echo "usage: terminals.sh MEMGLOW STANDIN mosh|urxvt|screen"
	exit 2
	;;
esac

# 30 rows, the lines and the report; then fewer rows: the terminal keeps
# the lines up to that row and puts the cursor on the last one's row.
open 1 && shows 50 || exit 1
shrink "$rows"
waitfor 60 runsat "$rows" || { fail "$terminal: the run's terminal never had $rows rows"; exit 1; }
open 2 && shows 62 || exit 1
check=kept
[ "$terminal" != screen ] || check=whole
$check "$rows" 62
open 3 && shows 75 || exit 1
$check "$rows" 75
[ "$failures" = 0 ] || { echo "terminals.sh: $failures failures"; exit 1; }
echo "terminals.sh: $terminal: the lines stay"
