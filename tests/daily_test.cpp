// SPDX-License-Identifier: ISC
// The terminal beyond the happy path, as people use it: kills while the
// terminal takes no bytes, jobs in the background, short panes, resizes
// while an edge is dragged, and signals that come at the worst moment (the
// stand-in widens each window with a delay or a slow write).
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "expected.h"
#include "onterminal.h"
#include "run.h"
#include "screen.h"

namespace {

using clocktime = std::chrono::steady_clock;

double since(clocktime::time_point t)
{
	return std::chrono::duration<double>(clocktime::now() - t).count();
}

// A terminal stopped with ^S takes no bytes; a signal that ends the run
// still ends it at once, by the same signal.  The terminal stays stopped:
// a run that it held would never end.  The time is counted from the
// signal, so a late harness changes nothing.
TEST(Ending, AStoppedTerminalDoesNotHoldTheRun)
{
	for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
		SCOPED_TRACE(strsignal(sig));
		runoptions o = terminal(80, 24, {});
		o.realsleep = true;
		o.timeout = 60;
		bool stopped = false;
		o.onoutput = [&](pid_t, int pty, const std::string &out) {
			if (!stopped && out.find("Total") != std::string::npos) {
				ASSERT_EQ(write(pty, "\023", 1), 1);
				stopped = true;
			}
		};
		clocktime::time_point sent;
		o.at = {{1.0, [&](pid_t pid, int) {
				 sent = clocktime::now();
				 kill(pid, sig);
			 }}};
		runresult r = runmemglow({"-t", "-s", "0.05"}, o);
		EXPECT_TRUE(stopped);
		EXPECT_EQ(r.signal, sig);
		EXPECT_LT(since(sent), 10.0);
	}
}

// A shell with job control runs the program in the background; the script
// runs it as "$0" "$@" through env, which gives the stand-in to the program
// alone.
runoptions shell(const std::string &script, std::vector<std::string> env)
{
	runoptions o = terminal(80, 40, std::move(env));
	o.realsleep = true;
	o.timeout = 15;
	o.standin = false;
	o.env.push_back(std::string("MEMGLOW_STANDIN=") + STANDIN_LIB);
	o.wrapper = {"sh", "-c", "set -m; " + script};
	return o;
}

// With stty tostop the terminal stops a job in the background that writes;
// killed (and continued, as a shell's kill does), it ends.
TEST(Background, AJobStoppedByTheTerminalEndsWhenKilled)
{
	// The shell has seen the job stop, not end: the process's own state
	// tells, a zombie (Z) once it ended.
	runoptions o = shell("stty tostop </dev/tty; env LD_PRELOAD=\"$MEMGLOW_STANDIN\" \"$0\" \"$@\" & sleep 0.5; kill $!; sleep 0.3; "
			     "kill -CONT $!; sleep 0.5; s=$(cut -d' ' -f3 /proc/$!/stat 2>/dev/null); "
			     "echo \"state ${s:-gone}\" >&2", {});
	runresult r = runmemglow({"-t", "-s", "0.2"}, o);
	EXPECT_TRUE(r.err == "state Z\n" || r.err == "state gone\n") << r.err;

	// The same where the terminal stops writes only after the report went
	// out: the newline it holds cannot be given back from the background.
	o = shell("env LD_PRELOAD=\"$MEMGLOW_STANDIN\" \"$0\" \"$@\" & sleep 0.5; stty tostop </dev/tty; "
		  "kill $!; sleep 0.5; s=$(cut -d' ' -f3 /proc/$!/stat 2>/dev/null); "
		  "echo \"state ${s:-gone}\" >&2", {});
	r = runmemglow({"-t", "-s", "1000"}, o);
	EXPECT_TRUE(r.err == "state Z\n" || r.err == "state gone\n") << r.err;
}

// ^Z on a terminal that stops a job in the background that writes (stty
// tostop), then a kill from the shell: the run ends by the kill.  Its report
// holds its newline back, and a run in the background must not give it back
// as it ends: the terminal would stop it again for that write.  The status
// the shell sees says by which signal the job stopped: ^Z's, as shells tell
// the user, not "Stopped (signal)".  The shell's record of the stopped job
// gives its process; then the process's own state tells: a zombie (Z) once
// it ended, stopped (T) again where it wrote.
TEST(Background, AJobStoppedWithCtrlZEndsWhenKilled)
{
	runoptions o = shell("stty tostop </dev/tty; f=$(mktemp); env LD_PRELOAD=\"$MEMGLOW_STANDIN\" \"$0\" \"$@\"; "
			     "echo \"stopped $?\" >&2; jobs -l >\"$f\"; read -r _ _ pid _ <\"$f\"; rm -f \"$f\"; "
			     "kill \"$pid\"; kill -CONT \"$pid\"; "
			     "while s=$(cut -d' ' -f3 \"/proc/$pid/stat\" 2>/dev/null) && [ \"$s\" != Z ] && [ \"$s\" != T ]; "
			     "do sleep 0.01; done; echo \"state ${s:-gone}\" >&2", {});
	bool sent = false;
	o.onoutput = [&](pid_t, int pty, const std::string &out) {
		if (!sent && out.find("Total") != std::string::npos) {
			sent = true;
			ASSERT_EQ(write(pty, "\032", 1), 1);
		}
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_TRUE(sent);
	const std::string stopped = "stopped " + std::to_string(128 + SIGTSTP) + "\n";
	EXPECT_TRUE(r.err == stopped + "state Z\n" || r.err == stopped + "state gone\n") << r.err;
}

// A stop the run was started with ignored stays ignored: ^Z does nothing,
// and the run goes on to its end (here a failed sample).
TEST(Background, AStopIgnoredAtTheStartStaysIgnored)
{
	runoptions o = shell("trap '' TSTP; env LD_PRELOAD=\"$MEMGLOW_STANDIN\" \"$0\" \"$@\"; echo \"status $?\" >&2",
			     {"STANDIN_FAIL=mem:3"});
	bool sent = false;
	o.onoutput = [&](pid_t, int pty, const std::string &out) {
		if (!sent && out.find("Total") != std::string::npos) {
			sent = true;
			ASSERT_EQ(write(pty, "\032", 1), 1);
		}
	};
	runresult r = runmemglow({"-t", "-s", "0.2"}, o);
	EXPECT_TRUE(sent);
	EXPECT_EQ(r.err, failed + "status 1\n");
}

// The rows of the screen from the first that reads first, or none.
std::vector<std::string> from(const screenshot &s, const std::string &first)
{
	for (size_t i = 0; i < s.rows.size(); i++)
		if (s.rows[i] == first)
			return std::vector<std::string>(s.rows.begin() + static_cast<long>(i), s.rows.end());
	return {};
}

// The report's rows as a fresh report of the figures leaves them.
std::vector<std::string> reportrows(const std::vector<std::string> &args,
				    const std::vector<std::string> &env, int columns)
{
	const screenshot s = render(fresh(args, env, columns, 40), 40, columns);
	return std::vector<std::string>(s.rows.begin(), s.rows.begin() + s.cursorrow + 1);
}

// A job in the background never moves up over what the shell wrote after
// its report: each report starts below, and ends with its newline, so that
// what the shell writes starts a row of its own.  Back in the foreground,
// the report starts afresh once more and then stays in place.
TEST(Background, TheShellsLinesStay)
{
	const std::string mem = example + ";8589934592 2147483648 0;8589934592 3221225472 0;" +
				"8589934592 4294967296 0;8589934592 536870912 0";
	std::vector<std::string> env = figures(mem, "");
	runoptions o = shell("env LD_PRELOAD=\"$MEMGLOW_STANDIN\" \"$0\" \"$@\" & sleep 0.45; printf 'one\\ntwo\\nthree\\n'; sleep 0.5; "
			     "kill $!; wait $!", env);
	runresult r = runmemglow({"-t", "-s", "0.3"}, o);
	const screenshot got = render(r.out, 40, 80);
	const std::vector<std::string> rest = from(got, "one");
	ASSERT_GE(rest.size(), 3u) << show(got);
	EXPECT_EQ(std::vector<std::string>(rest.begin(), rest.begin() + 3),
		  (std::vector<std::string>{"one", "two", "three"}))
		<< show(got);

	env.push_back("STANDIN_FAIL=mem:7");
	runoptions back = shell("env LD_PRELOAD=\"$MEMGLOW_STANDIN\" \"$0\" \"$@\" & sleep 0.45; printf '\\none\\ntwo\\nthree\\n'; fg >/dev/null",
				env);
	r = runmemglow({"-t", "-s", "0.3"}, back);
	EXPECT_EQ(r.err, failed);
	const screenshot s = render(r.out, 40, 80);
	// The report starts on the row right after the shell's last line: no
	// empty row between (the rows below the report are the screen's own).
	std::vector<std::string> after = from(s, "three");
	ASSERT_GE(after.size(), 1u) << show(s);
	after.erase(after.begin());
	while (!after.empty() && after.back().empty())
		after.pop_back();
	EXPECT_EQ(after, reportrows({"-t"}, figures(lastof(mem), ""), 80)) << show(s);
}

// A pane as tall as the report, or shorter: the report's first row is the
// pane's top one, where an erase down from it would read as a cleared
// screen, and a report taller than the pane would scroll it on every
// refresh.  Neither happens: after the first report the pane's history
// stays as it is, and the pane shows the report's last rows.
TEST(ShortPanes, ARefreshAddsNoHistory)
{
	const std::string mem = example + ";" + TiBfree + ";8589934592 2147483648 0;" + example;
	struct {
		const char *name;
		int columns, rows;
		std::vector<std::string> args;
	} cases[] = {
		{"as tall as the report", 80, 3, {"-t"}},
		{"a row taller", 80, 4, {"-t"}},
		{"a row short", 80, 2, {"-t"}},
		{"one row", 80, 1, {"-t"}},
		{"the table, a row short", 80, 3, {"-o", "-t"}},
		{"wrapped rows, half of them", 40, 3, {"-t", "-b"}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		std::vector<std::string> env = figures(mem, "");
		env.push_back("STANDIN_FAIL=mem:5");
		std::vector<std::string> args = c.args;
		args.insert(args.end(), {"-s", "1"});
		runresult r = runmemglow(args, terminal(c.columns, c.rows, env));
		ASSERT_EQ(r.err, failed);
		const std::string out = running(r.out);
		EXPECT_EQ(out.find("A\033[J"), std::string::npos) << "an erase from the report's first row";
		const size_t second = out.find("\r\033[");
		ASSERT_NE(second, std::string::npos);
		emulator e(c.rows, c.columns);
		e.feed(above + out.substr(0, second));
		const int pushed = e.pushed();
		e.feed(out.substr(second));
		EXPECT_EQ(e.pushed(), pushed);

		// The pane's rows from the top, or the report's where it is
		// shorter than the pane.
		const screenshot want =
			render(fresh(c.args, figures(lastof(mem), ""), c.columns, 60), 60, c.columns);
		const int shown = std::min(c.rows, want.cursorrow + 1);
		const std::vector<std::string> last(want.rows.begin() + want.cursorrow + 1 - shown,
						    want.rows.begin() + want.cursorrow + 1);
		const screenshot got = e.shot();
		EXPECT_EQ(std::vector<std::string>(got.rows.end() - shown, got.rows.end()), last)
			<< show(got);
	}
}

// A resize after which the report on screen takes the same rows (a change of
// height alone, a resize signal without a change, a wider terminal where
// nothing wrapped) leaves one report, drawn in place; and the report comes
// soon after the resize, not at the end of a long pause.
TEST(Resizes, TheSameRowsRedrawInPlaceAndSoon)
{
	struct {
		const char *name;
		int columns, rows;  // after the resize; 0: the resize signal alone
	} cases[] = {
		{"a resize signal, nothing changed", 0, 0},
		{"80 to 100 columns", 100, 24},
		{"24 to 30 rows", 80, 30},
	};
	const std::string mem = example + ";8589934592 2147483648 0";
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		std::vector<std::string> env = figures(mem, "");
		runoptions o = terminal(80, 24, env);
		o.realsleep = true;
		o.timeout = 60;
		clocktime::time_point resized;
		double late = -1;
		o.onoutput = [&](pid_t pid, int pty, const std::string &out) {
			if (count(out, "Total") == 1 && resized == clocktime::time_point()) {
				// Taken before the resize, so that a harness slow
				// to go on shortens nothing.
				resized = clocktime::now();
				if (c.columns == 0)
					kill(pid, SIGWINCH);
				else
					resize(pty, c.columns, c.rows);
			} else if (count(out, "Total") == 2 && late < 0) {
				late = since(resized);
				kill(pid, SIGTERM);
			}
		};
		runresult r = runmemglow({"-t", "-s", "30"}, o);
		EXPECT_EQ(r.signal, SIGTERM);
		// Once the size has stayed put for 0.2 s, not at the end of the
		// pause of 30 s (the stand-in's clock holds the exact times:
		// Pauses.CutByResizesAndContinues).
		EXPECT_GE(late, 0.2);
		EXPECT_LT(late, 10.0);
		const std::string out = running(r.out);
		EXPECT_EQ(count(out, "\r\033[2A"), 1u) << "in place";
		const int columns = c.columns == 0 ? 80 : c.columns, rows = c.columns == 0 ? 24 : c.rows;
		emulator e(24, 80);
		e.feed(above);
		const size_t second = out.find("\r\033[2A");
		e.feed(out.substr(0, second));
		e.resize(rows, columns);
		e.feed(out.substr(second));
		const screenshot want =
			render(above + fresh({"-t"}, figures(lastof(mem), ""), columns, rows), rows, columns);
		EXPECT_EQ(e.shot().rows, want.rows) << show(e.shot());
	}
}

// An edge dragged: resizes keep coming, faster than they settle.  Each
// pause still ends when it is due, not when the dragging stops, and not
// before, where the report on screen stays where it was drawn: the
// terminal grows taller, and the size never stays put long enough to cut a
// pause.  (A terminal made shorter, or narrower, may have moved it: that
// report waits for the size to settle, as Pauses.CutByResizesAndContinues
// shows.)  The resizes come on the stand-in's clock, so a late or busy
// machine changes nothing.
TEST(Resizes, DraggingNeverStretchesAPause)
{
	std::string drag = "STANDIN_SLEEP=clock";
	char at[32];
	for (int i = 0; i < 25; i++) {
		snprintf(at, sizeof at, ",height=%d@%.2f", 25 + i, 0.05 + 0.1 * i);
		drag += at;
	}
	runoptions o = terminal(80, 24, {drag, "STANDIN_TRACE=1", "STANDIN_FAIL=mem:4"});
	runresult r = runmemglow({"-t", "-s", "0.5"}, o);
	EXPECT_EQ(r.status, 1);
	// The samples' times on that clock, from the trace.
	std::vector<std::string> times;
	const std::string call = " sg_get_mem_stats]";
	for (size_t end = r.err.find(call); end != std::string::npos; end = r.err.find(call, end + 1)) {
		const size_t start = r.err.rfind('[', end) + 1;
		times.push_back(r.err.substr(start, end - start));
	}
	const std::vector<std::string> due = {"0.000000000", "0.500000000", "1.000000000", "1.500000000"};
	EXPECT_EQ(times, due) << r.err;
	EXPECT_NE(r.err.find(failed), std::string::npos) << r.err;
}

// One resize cuts one pause short; the pauses after it are whole again.
// Into a pipe a resize is nothing to the program.
TEST(Resizes, OnlyThePauseOfAResizeIsCut)
{
	for (bool onaterminal : {true, false}) {
		SCOPED_TRACE(onaterminal ? "terminal" : "pipe");
		runoptions o = onaterminal ? terminal(80, 24, {}) : runoptions();
		o.env.push_back("STANDIN_FAIL=mem:5");
		o.realsleep = true;
		bool sent = false;
		o.onoutput = [&](pid_t pid, int, const std::string &) {
			if (!sent) {
				kill(pid, SIGWINCH);
				sent = true;
			}
		};
		runresult r = runmemglow({"-s", "0.4"}, o);
		EXPECT_EQ(r.err, failed);
		EXPECT_GE(r.seconds, onaterminal ? 1.35 : 1.6);
		if (!onaterminal) {
			const std::string report =
				"Physical  : " + framedbar(4, 13, 18) + "50\033[0;31m%\033[0m\t(4194304/8388608)\n"
				"Swap      : " + framedbar(35, 0, 0) + "100\033[0;31m%\033[0m\t(2097152/2097152)\n";
			EXPECT_EQ(r.out, report + "\033[2A" + report + "\033[2A" + report + "\033[2A" + report);
		}
	}
}

// Signals at the worst moments.  Each ends the run by the first signal,
// with the last report whole and exactly one newline after it, or, when
// nothing was drawn yet, nothing at all.
TEST(Ending, SignalsAtTheWorstMoments)
{
	struct rlimit nocore = {0, 0};
	ASSERT_EQ(setrlimit(RLIMIT_CORE, &nocore), 0);
	const std::string report = fresh({"-t"}, {}, 80, 24);
	struct {
		const char *name;
		std::vector<std::string> env;
		std::vector<int> signals;  // sent as the first bytes arrive, or at 0.2 s
		bool atstart;
		std::string out, err;
	} cases[] = {
		{"in the middle of a report's write", {"STANDIN_WRITE=slow"}, {SIGTERM}, false,
		 report + "\r\n", ""},
		{"an interrupt, then a termination", {}, {SIGINT, SIGTERM}, false, report + "\r\n", ""},
		// The signal acts at once, before the sample's failure is known.
		{"during a slow sample that fails", {"STANDIN_DELAY=mem:0.4", "STANDIN_FAIL=mem:2"},
		 {SIGINT}, false, report + "\r\n", ""},
		{"before the first report", {"STANDIN_DELAY=init:0.5"}, {SIGINT}, true, "", ""},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		runoptions o = terminal(80, 24, c.env);
		o.timeout = 10;
		const bool failing = std::any_of(c.env.begin(), c.env.end(), [](const std::string &e) {
			return e.rfind("STANDIN_FAIL=", 0) == 0;
		});
		// The pause is real, but where a failing sample is to follow at
		// once.
		o.realsleep = !failing;
		auto send = [&](pid_t pid) {
			for (int sig : c.signals)
				kill(pid, sig);
		};
		bool sent = false;
		if (c.atstart) {
			o.at = {{0.2, [&](pid_t pid, int) { send(pid); }}};
		} else {
			o.onoutput = [&](pid_t pid, int, const std::string &out) {
				if (sent || out.empty())
					return;
				// A failing sample is under way once the first report
				// is whole.
				if (failing && out.find("Total") == std::string::npos)
					return;
				if (failing)
					usleep(100000);
				send(pid);
				sent = true;
			};
		}
		runresult r = runmemglow({"-t", "-s", "1000"}, o);
		EXPECT_EQ(r.signal, c.signals[0]);
		EXPECT_EQ(r.out, c.out);
		EXPECT_EQ(r.err, c.err);
	}
}

// A continue that comes just before a pause starts still ends it: the
// pause of 1000 s would outlast the run's time limit.
TEST(Ending, AContinueJustBeforeThePause)
{
	runoptions o = terminal(80, 24, {"STANDIN_DELAY=pause:0.4", "STANDIN_FAIL=mem:2"});
	o.realsleep = true;
	o.timeout = 60;
	bool sent = false;
	o.onoutput = [&](pid_t pid, int, const std::string &out) {
		if (!sent && out.find("Total") != std::string::npos) {
			usleep(100000);
			kill(pid, SIGCONT);
			sent = true;
		}
	};
	runresult r = runmemglow({"-t", "-s", "1000"}, o);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, failed);
}

// Where standard error is the terminal too, a failure's message has a row
// of its own below the report; where the newline cannot be given back, the
// write error is reported too.
TEST(Ending, TheFailureBelowTheReport)
{
	runoptions o = terminal(80, 24, {"STANDIN_FAIL=mem:3"});
	o.stderrtopty = true;
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(r.status, 1);
	const screenshot got = render(above + r.out, 24, 80);
	const screenshot want = render(above + fresh({"-t"}, {}, 80, 24) + "\r\n" + failed, 24, 80);
	EXPECT_EQ(got.rows, want.rows) << show(got);

	o = terminal(80, 24, {"STANDIN_FAIL=mem:3", "STANDIN_WRITE=failnewline"});
	r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, failed + "memglow: write error: " + strerror(EIO) + "\n");
}

}  // namespace
