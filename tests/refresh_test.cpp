// SPDX-License-Identifier: ISC
// Refreshing in place, judged on the screen that a real terminal emulator
// shows.  The figures change between reports, as real ones do; after each
// refresh the screen must show what a fresh report of the new figures
// shows, and nothing above the report may change.
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
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

struct refreshcase {
	const char *name;
	int columns, rows;
	std::vector<std::string> args;
	std::string mem, swap;  // figures per sample, ';' apart; empty: the default
};


TEST(Refresh, EachRefreshShowsAFreshReport)
{
	const refreshcase cases[] = {
		{"swap 100 % then 97 %", 80, 24, {"-t"}, "",
		 "1048576000 1048576000;1048576000 1017118720"},
		{"memory 10 % then 9 %", 80, 24, {"-m"},
		 "1048576000 104857600 0;1048576000 94371840 0", ""},
		{"amounts lose digits, bytes", 80, 24, {"-b", "-t"}, "",
		 "8589934592 8589934592;8589934592 83886080"},
		{"amounts lose digits, KiB", 80, 24, {"-t"}, "8589934592 8589934592 0;8589934592 1048576 0", ""},
		{"amounts lose digits, MiB", 80, 24, {"-m", "-t"}, TiBfree + ";1099511627776 1048576 0", ""},
		{"the Total line shrinks", 80, 24, {"-t"}, TiBfree + ";" + example, "0 0;2147483648 0"},
		{"a classic row past its columns", 80, 24, {"-o", "-t", "-b"}, TiBfree + ";" + example,
		 "0 0;2147483648 1"},
		{"classic, figures growing", 80, 24, {"-o", "-t"}, example + ";" + TiBfree, ""},
		{"wrapped lines, 40 columns", 40, 24, {"-b", "-t"}, TiBfree + ";" + example, ""},
		{"a pane as tall as the report", 80, 3, {"-t"}, example + ";8589934592 2147483648 0", ""},
		{"a classic pane as tall as the report", 80, 4, {"-o", "-t"}, TiBfree + ";" + example, ""},
		// The tab after the percentage ends a row: the line's first 53 or
		// 54 columns, then spaces to column 56.
		{"a tab at a row end, 56 columns", 56, 24, {"-t"},
		 "1048576000 104857600 0;1048576000 94371840 0", ""},
		{"a tab at a row end, 54 columns", 54, 24, {"-t"}, "",
		 "1048576000 1048576000;1048576000 1017118720"},
		{"a tab at a row end, 53 columns", 53, 24, {"-t"},
		 "1048576000 104857600 0;1048576000 94371840 0", ""},
		// The new report takes a row more than the one on screen: the
		// cursor-up must count the rows of the one on screen.
		{"a report that takes more rows", 80, 24, {"-b", "-t"}, example + ";" + TiBfree,
		 "2147483648 2147483648;0 0"},
		{"ten rows and more", 20, 24, {"-t"}, example + ";" + TiBfree + ";" + example, ""},
		{"one column", 1, 260, {"-t"}, example + ";" + TiBfree, "2147483648 2147483648;0 0"},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		std::vector<std::string> env = figures(c.mem, c.swap);
		env.push_back("STANDIN_FAIL=mem:5");
		std::vector<std::string> args = c.args;
		args.insert(args.end(), {"-s", "1"});
		runresult r = runmemglow(args, terminal(c.columns, c.rows, env));
		EXPECT_EQ(r.err, failed);
		EXPECT_EQ(r.status, 1);
		const std::string want =
			fresh(c.args, figures(lastof(c.mem), lastof(c.swap)), c.columns, c.rows);
		const screenshot got = render(above + running(r.out), c.rows, c.columns);
		const screenshot expected = render(above + want, c.rows, c.columns);
		EXPECT_EQ(got.rows, expected.rows) << "got\n" << show(got) << "wanted\n" << show(expected);
		EXPECT_EQ(got.cursorrow, expected.cursorrow);
		EXPECT_EQ(got.cursorcol, expected.cursorcol);
	}
}

// The rows of the report that ends on the cursor's row.
std::vector<std::string> reportabove(const screenshot &s, size_t rows)
{
	const size_t end = static_cast<size_t>(s.cursorrow) + 1;
	if (end < rows)
		return {};
	return std::vector<std::string>(s.rows.begin() + static_cast<long>(end - rows),
					 s.rows.begin() + static_cast<long>(end));
}

// What the terminal shows of the lines above and the run's output (without
// its last newline), *width columns wide at the start and resized at the
// given bytes to the given widths (0: the terminal does not say, and stays
// as it is); *width ends as the last width.
screenshot shownresized(const std::string &out, int rows, int *width,
			const std::vector<std::pair<size_t, int>> &resizes)
{
	emulator e(rows, *width);
	e.feed(above);
	size_t from = 0;
	for (const auto &at : resizes) {
		e.feed(out.substr(from, at.first - from));
		from = at.first;
		if (at.second > 0) {
			*width = at.second;
			e.resize(rows, *width);
		}
	}
	e.feed(out.substr(from));
	return e.shot();
}

// The lines above stay whole, and the report that ends on the cursor's row
// is what a fresh one shows; returns that fresh one's screen.
screenshot aboveandfresh(const screenshot &got, const std::vector<std::string> &args,
			 const std::vector<std::string> &env, int width, int rows)
{
	EXPECT_EQ(std::vector<std::string>(got.rows.begin(), got.rows.begin() + 3), aboverows)
		<< show(got);
	const screenshot want = render(fresh(args, env, width, rows), rows, width);
	EXPECT_EQ(reportabove(got, static_cast<size_t>(want.cursorrow) + 1),
		  reportabove(want, static_cast<size_t>(want.cursorrow) + 1))
		<< "got\n" << show(got) << "wanted\n" << show(want);
	return want;
}

// A terminal resized while the program pauses, so that the report on screen
// takes other rows: terminals differ in what a resize does to such rows, so
// the next report starts afresh below, soon after the resize; what the shell
// wrote above stays, and the last report is whole.
TEST(Refresh, AResizeLeavesWhatIsAboveAlone)
{
	struct {
		const char *name;
		std::vector<int> widths;  // the width for each report
		std::vector<std::string> args;
	} cases[] = {
		{"narrower, then wider", {100, 50, 100}, {"-t"}},
		{"wider", {40, 80}, {"-b", "-t"}},
		{"narrower, classic", {100, 40}, {"-o", "-t", "-b"}},
		{"a width of 0 between reports", {80, 0, 80}, {"-t"}},
	};
	const int rows = 60;
	const std::string samples[] = {example, TiBfree, "8589934592 1048576 0"};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		const size_t n = c.widths.size();
		std::string mem = samples[0];
		for (size_t i = 1; i < n; i++)
			mem += ";" + samples[i];
		std::vector<std::string> env = figures(mem, "");
		env.push_back("STANDIN_FAIL=mem:" + std::to_string(n + 1));
		runoptions o = terminal(c.widths[0], rows, env);
		o.realsleep = true;
		std::vector<std::pair<size_t, int>> resizes;  // at which byte, to which width
		// From each resize to the report after it, so that a harness
		// late to resize lengthens nothing.
		std::vector<double> waits;
		std::chrono::steady_clock::time_point resized;
		o.onoutput = [&](pid_t, int pty, const std::string &out) {
			size_t reports = 0;
			for (size_t at = 0; (at = out.find(c.args[0] == "-o" ? "Mem:" : "Physical", at)) !=
					    std::string::npos; at++)
				reports++;
			if (reports > resizes.size() && waits.size() < resizes.size())
				waits.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() -
									      resized)
							.count());
			if (reports != resizes.size() + 1 || reports >= n)
				return;
			struct winsize ws = {};
			ws.ws_row = rows;
			ws.ws_col = static_cast<unsigned short>(c.widths[reports]);
			ASSERT_EQ(ioctl(pty, TIOCSWINSZ, &ws), 0);
			resized = std::chrono::steady_clock::now();
			resizes.emplace_back(out.size(), c.widths[reports]);
		};
		std::vector<std::string> args = c.args;
		args.insert(args.end(), {"-s", "4"});
		runresult r = runmemglow(args, o);
		ASSERT_EQ(r.status, 1) << r.err;
		ASSERT_EQ(resizes.size(), n - 1);
		// Each resize ends its pause of 4 s once it has settled (0.2 s).
		ASSERT_EQ(waits.size(), n - 1);
		for (double wait : waits)
			EXPECT_LT(wait, 2.0);

		int width = c.widths[0];
		const screenshot got = shownresized(running(r.out), rows, &width, resizes);
		const screenshot want = aboveandfresh(got, c.args, figures(lastof(mem), ""), width, rows);
		EXPECT_EQ(got.cursorcol, want.cursorcol);
	}
}

// A terminal that draws at a new size before its pseudo-terminal reports
// it, as tmux does while an edge is dragged (it tells the size up to 0.3 s
// late) and as a terminal at the far end of a slow link does: reports
// built for the old width are drawn at the new one.  What the shell wrote
// above stays, and once the size is told, the report is whole.
TEST(Refresh, ATerminalThatDrawsAtASizeItHasNotReported)
{
	struct step {
		int after;    // once so many reports have arrived
		bool drawn;   // the emulator draws at the width; or the pty tells it
		int width;
	};
	struct {
		const char *name;
		int width;
		std::vector<step> steps;
	} cases[] = {
		{"wider, told two reports late", 55, {{1, true, 100}, {3, false, 100}}},
		{"two resizes at once, told one by one", 50,
		 {{1, true, 100}, {2, false, 55}, {4, false, 100}}},
		{"narrower, told two reports late", 100, {{1, true, 55}, {3, false, 55}}},
	};
	const int rows = 40;
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		runoptions o = terminal(c.width, rows, {"STANDIN_FAIL=mem:9"});
		o.realsleep = true;
		size_t next = 0;
		std::vector<std::pair<size_t, int>> drawn;  // at which byte, at which width
		o.onoutput = [&](pid_t, int pty, const std::string &out) {
			for (; next < c.steps.size() && count(out, "Total") >= static_cast<size_t>(c.steps[next].after);
			     next++) {
				const step &s = c.steps[next];
				if (s.drawn) {
					drawn.emplace_back(out.size(), s.width);
					continue;
				}
				struct winsize ws = {};
				ws.ws_row = rows;
				ws.ws_col = static_cast<unsigned short>(s.width);
				ASSERT_EQ(ioctl(pty, TIOCSWINSZ, &ws), 0);
			}
		};
		runresult r = runmemglow({"-t", "-s", "0.1"}, o);
		ASSERT_EQ(r.status, 1) << r.err;
		ASSERT_EQ(next, c.steps.size());
		int width = c.width;
		const screenshot got = shownresized(running(r.out), rows, &width, drawn);
		aboveandfresh(got, {"-t"}, {}, width, rows);
	}
}

// What is typed while the program runs is echoed where the cursor waits,
// after the report; the next report erases it.
TEST(Refresh, TypingWhileItRuns)
{
	const std::string mem = example + ";8589934592 2147483648 0";
	std::vector<std::string> env = figures(mem, "");
	env.push_back("STANDIN_FAIL=mem:3");
	runoptions o = terminal(80, 24, env);
	o.realsleep = true;
	bool typed = false;
	o.onoutput = [&](pid_t, int pty, const std::string &out) {
		if (typed || out.find("Total") == std::string::npos)
			return;
		ASSERT_EQ(write(pty, "abc", 3), 3);
		typed = true;
	};
	runresult r = runmemglow({"-t", "-s", "0.5"}, o);
	ASSERT_TRUE(typed);
	EXPECT_NE(r.out.find("abc"), std::string::npos) << "the terminal echoed the typing";
	const screenshot got = render(above + running(r.out), 24, 80);
	const screenshot want = render(above + fresh({"-t"}, figures(lastof(mem), ""), 80, 24), 24, 80);
	EXPECT_EQ(got.rows, want.rows) << "got\n" << show(got) << "wanted\n" << show(want);
	EXPECT_EQ(got.cursorcol, want.cursorcol);
}

// Interrupted, terminated or hung up, the run gives back the newline it held,
// so that the report stays whole and the shell's next line starts on a row
// of its own, and it ends by the same signal.  A signal it was started with
// ignored stays ignored.
TEST(Refresh, SignalsThatEndTheRunGiveTheLineBack)
{
	struct rlimit nocore = {0, 0};
	ASSERT_EQ(setrlimit(RLIMIT_CORE, &nocore), 0);
	for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
		for (bool ignored : {false, true}) {
			SCOPED_TRACE(testing::Message() << strsignal(sig) << (ignored ? ", ignored" : ""));
			runoptions o = terminal(80, 24, {});
			o.realsleep = true;
			o.timeout = 10;
			if (ignored)
				o.ignored = {sig};
			int sent = 0;
			// ^C is typed as a user would: the terminal echoes it and
			// interrupts the program.
			const bool typed = sig == SIGINT && !ignored;
			o.onoutput = [&](pid_t pid, int pty, const std::string &out) {
				if (sent == 0 && out.find("Total") != std::string::npos) {
					if (typed)
						ASSERT_EQ(write(pty, "\003", 1), 1);
					else
						kill(pid, sig);
					sent = sig;
					if (ignored) {
						// Still running: then a signal it did not ignore.
						usleep(100000);
						sent = sig == SIGTERM ? SIGINT : SIGTERM;
						kill(pid, sent);
					}
				}
			};
			runresult r = runmemglow({"-t", "-s", "1000"}, o);
			EXPECT_EQ(r.signal, sent);
			EXPECT_EQ(r.err, "");
			const screenshot got = render(above + r.out + "$ ", 24, 80);
			const screenshot want = render(above + fresh({"-t"}, {}, 80, 24) +
							       (typed ? "^C" : "") + "\r\n$ ", 24, 80);
			EXPECT_EQ(got.rows, want.rows) << show(got);
			EXPECT_EQ(got.cursorcol, 2);
		}
	}
}

// A continue that arrives while the program is blocked writing to a reader
// that has stopped reading neither fails the write nor loses a report: the
// run goes on when the reader drains the pipe.  The report after the
// continue starts afresh, without the cursor-up.
TEST(Refresh, AContinueWhileBlockedInAWrite)
{
	const std::string report =
		"Physical  : " + framedbar(4, 13, 18) + "50\033[0;31m%\033[0m\t(4194304/8388608)\n"
		"Swap      : " + framedbar(35, 0, 0) + "100\033[0;31m%\033[0m\t(2097152/2097152)\n";
	const int reports = 1000;  // far more than a pipe holds
	runoptions o;
	o.env = {"STANDIN_FAIL=mem:" + std::to_string(reports + 1)};
	o.timeout = 30;
	bool stalled = false;
	bool blocked = false;
	o.onoutput = [&](pid_t pid, int, const std::string &) {
		if (stalled)
			return;
		stalled = true;
		// The reader stalls; the program fills the pipe and blocks in
		// the write, as the kernel says.
		const std::string wchan = "/proc/" + std::to_string(pid) + "/wchan";
		for (int i = 0; i < 100 && !blocked; i++) {
			usleep(20000);
			std::ifstream in(wchan);
			std::string where;
			std::getline(in, where);
			blocked = where.find("pipe_write") != std::string::npos;
		}
		ASSERT_EQ(kill(pid, SIGCONT), 0);
		usleep(100000);
	};
	runresult r = runmemglow({"-s", "1"}, o);
	EXPECT_TRUE(blocked) << "the continue came while the program was blocked writing";
	EXPECT_EQ(r.err, failed);
	EXPECT_EQ(r.status, 1);
	std::string reportsonly;
	size_t ups = 0;
	for (size_t at = 0; at < r.out.size();) {
		if (r.out.compare(at, 4, "\033[2A") == 0) {
			ups++;
			at += 4;
		} else {
			const size_t next = r.out.find("\033[2A", at);
			reportsonly += r.out.substr(at, next - at);
			at = next == std::string::npos ? r.out.size() : next;
		}
	}
	std::string want;
	for (int i = 0; i < reports; i++)
		want += report;
	EXPECT_TRUE(reportsonly == want) << "reports lost or cut";
	EXPECT_EQ(ups, static_cast<size_t>(reports - 2));
}

}  // namespace
