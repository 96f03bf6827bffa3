// SPDX-License-Identifier: ISC
// What can happen between two steps of a refreshing run on a terminal: a
// kill while a frame is made, as a write finds the terminal stopped, just
// after a report went out in part or after the newline given back;
// signals while the failure's message waits for the terminal; and pauses
// cut by resizes and continues.  The stand-in holds each window open until
// the test has sent its signal (its gates), and runs the pauses on a clock
// of its own, so that nothing here depends on timing.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <string>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "gates.h"
#include "onterminal.h"
#include "run.h"

namespace {

// Copies of the program, the stand-in and the libraries the program finds
// through its run path in a folder made for them that every user can reach
// (tests/reachable.sh), taken away at the end.
struct reachable {
	std::string dir, bin, lib, libs;

	reachable()
	{
		char path[] = "/tmp/memglow-reachable-XXXXXX";
		if (mkdtemp(path) == nullptr || chmod(path, 0755) != 0)
			abort();
		dir = path;
		bin = dir + "/memglow";
		lib = dir + "/standin.so";
		libs = dir + "/lib";
		const std::string copy = std::string("sh '") + TESTS_DIR + "/reachable.sh' '" + dir + "' '" +
					 memglowpath() + "' '" + standinpath() + "'";
		if (system(copy.c_str()) != 0)
			abort();
	}
	~reachable()
	{
		const std::string remove = "rm -rf '" + dir + "'";
		if (system(remove.c_str()) != 0)
			abort();
	}
};

// Sends the signal while the stand-in holds the call back, then lets it go
// on: once, after the first piece of output.
std::function<void(pid_t, int, const std::string &)> whileheld(const gates &g, const std::string &call,
								 int sig, bool *sent)
{
	return [&g, call, sig, sent](pid_t pid, int, const std::string &) {
		if (*sent)
			return;
		*sent = true;
		ASSERT_TRUE(g.waitfor(call + ".held")) << call << " never held";
		kill(pid, sig);
		g.remove(call);
	};
}

// Whether the signals sent to the process were acted on: none is pending,
// or it is gone.
bool actedon(pid_t pid)
{
	const std::string pending = procstatus(pid, "ShdPnd:");
	return pending.empty() || std::stoull(pending, nullptr, 16) == 0 ||
	       procstatus(pid, "State:")[0] == 'Z';
}

// Waits, ten seconds at most, until the signals sent were acted on.
void waitactedon(pid_t pid)
{
	for (int i = 0; i < 1000 && !actedon(pid); i++)
		usleep(10000);
}

std::string wchan(pid_t pid)
{
	std::ifstream in("/proc/" + std::to_string(pid) + "/wchan");
	std::string where;
	std::getline(in, where);
	return where;
}

// Waits until the run waits for the terminal, not at the stand-in's gate
// (at most 10 s); whether it does.
bool waitsforterminal(pid_t pid)
{
	for (int i = 0; i < 1000; i++) {
		usleep(10000);
		if (procstatus(pid, "State:")[0] == 'S' && wchan(pid).find("nanosleep") == std::string::npos)
			return true;
	}
	return false;
}

// The run's output: the first report, then a report that starts afresh
// below it, and the failure that ends the run.
void startsafresh(const runresult &r, const std::string &first)
{
	ASSERT_EQ(r.err, failed);
	ASSERT_EQ(r.out.substr(0, first.size()), first);
	const std::string after = r.out.substr(first.size());
	EXPECT_EQ(after.substr(0, 2), "\r\n") << "afresh below: " << after;
}

// A kill that comes while a frame is made, after the last report went out:
// the frame does not go out, and the newline held by the report on screen
// is given back.  (Going out then, it would draw a report nobody asked for;
// after a resize, one that climbs over the shell's lines.)
TEST(Races, AKillWhileAFrameIsMade)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	const gates g({"1", "2", "3", "s2"});
	runoptions o = terminal(80, 24, {g.env()});
	bool sent = false;
	o.onoutput = whileheld(g, "s2", SIGTERM, &sent);
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(r.signal, SIGTERM);
	EXPECT_EQ(r.out, report + "\r\n");
}

// A kill while a frame is made, as the terminal takes no byte for a moment
// (a multiplexer that reads late): the newline given back waits a little
// for it, rather than be left out and the shell's "Terminated" glued to the
// report.  A terminal that stays full gets none, and the run ends all the
// same.
TEST(Races, AKillAsTheTerminalIsFull)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	const struct {
		const char *name, *writes, *tail;
	} cases[] = {
		{"full for a moment", "STANDIN_WRITE=again:2", "\r\n"},
		{"full for good", "STANDIN_WRITE=full:2", ""},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		const gates g({"1", "2", "3", "s2"});
		runoptions o = terminal(80, 24, {g.env(), c.writes});
		bool sent = false;
		o.onoutput = whileheld(g, "s2", SIGTERM, &sent);
		runresult r = runmemglow({"-t", "-s", "1"}, o);
		EXPECT_EQ(r.signal, SIGTERM);
		EXPECT_EQ(r.out, report + c.tail);
	}
}

// A stop (^Z) while the newline is given back in an ending signal's
// handler, its write held back: the stop waits, and the run ends by the
// kill with one newline, not a second one written by the stop.
TEST(Races, AStopWhileAKillGivesTheNewlineBack)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	const gates g({"1", "b2"});
	runoptions o = terminal(80, 24, {g.env()});
	bool sent = false;
	o.onoutput = [&](pid_t pid, int, const std::string &) {
		if (sent)
			return;
		sent = true;
		ASSERT_TRUE(g.waitfor("2.held"));
		kill(pid, SIGTERM);
		ASSERT_TRUE(g.waitfor("b2.held"));
		kill(pid, SIGTSTP);
		// Until the stop was handled, or waits blocked.
		const unsigned long long tstp = 1ull << (SIGTSTP - 1);
		for (int i = 0; i < 500; i++) {
			const std::string pending = procstatus(pid, "ShdPnd:");
			const std::string blocked = procstatus(pid, "SigBlk:");
			if (pending.empty() || (std::stoull(pending, nullptr, 16) & tstp) == 0 ||
			    (std::stoull(blocked, nullptr, 16) & tstp) != 0)
				break;
			usleep(10000);
		}
		g.remove("b2");
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(r.signal, SIGTERM);
	EXPECT_EQ(r.out, report + "\r\n");
}

// A resize while a frame is made, after the terminal's size was read: the
// frame is made again for the new size before it goes out, and starts
// afresh below, rather than climb by the rows counted at the old width.
TEST(Races, AResizeWhileAFrameIsMade)
{
	// Lines that fit 120 columns and not 40: rows drawn at 120 that a
	// terminal now 40 wide may have re-wrapped.
	const std::string first = fresh({"-t"}, {}, 120, 24);
	const gates g({"1", "2", "3", "s2"});
	runoptions o = terminal(120, 24, {g.env(), "STANDIN_FAIL=mem:3"});
	bool sent = false;
	o.onoutput = [&](pid_t, int pty, const std::string &) {
		if (sent)
			return;
		sent = true;
		ASSERT_TRUE(g.waitfor("s2.held"));
		resize(pty, 40, 24);
		g.remove("s2");
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	startsafresh(r, first);
}

// A kill just as a write finds the terminal stopped (^S): the run ends,
// rather than wait for the terminal until ^Q.
TEST(Races, AKillAsAWriteFindsTheTerminalStopped)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	const gates g({"1", "w2"});
	runoptions o = terminal(80, 24, {g.env()});
	o.timeout = 15;
	bool sent = false;
	o.onoutput = [&](pid_t pid, int pty, const std::string &out) {
		if (sent || out.size() < report.size())
			return;
		sent = true;
		typeflow(pty, true);
		g.put("2");
		g.put("3");
		ASSERT_TRUE(g.waitfor("w2.held"));
		kill(pid, SIGTERM);
		g.remove("w2");
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(r.signal, SIGTERM) << "it waited for ^Q";
	EXPECT_EQ(r.out, report);
}

// Another user's terminal (a shell after su), which the run cannot open by
// its name: stopped with ^S and resized just as a frame is about to be
// written, then ^Q.  The run writes it through /dev/tty without blocking,
// so the frame waits and is built again for the new width: it starts
// afresh below rather than climb by the rows counted at the old width over
// what is above.  (Written through standard output, it would have blocked
// in the write and gone out stale.)
TEST(Races, AnotherUsersTerminalChangedAsAFrameGoesOut)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "running as another user needs root";
	if (access("/usr/bin/setpriv", X_OK) != 0)
		GTEST_SKIP() << "running as another user needs setpriv (util-linux)";
	// The build may be where nobody cannot go (a clone in /root): the
	// program and the stand-in go to a folder of the test's own that
	// nobody can reach.
	const reachable copy;
	const std::string asnobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c "
				     "'test -x \"$0\" && test -r \"$1\"' '" + copy.bin + "' '" + copy.lib + "'";
	if (system(asnobody.c_str()) != 0)
		GTEST_SKIP() << "nobody cannot reach " << copy.dir << " (a TMPDIR in a private folder?)";
	// Lines that fit 120 columns and not 40: rows drawn at 120 that a
	// terminal now 40 wide may have re-wrapped.
	const std::string first = fresh({"-t"}, {}, 120, 24);
	const passwd *nobody = getpwnam("nobody");
	ASSERT_NE(nobody, nullptr);
	const gates g({"1", "2", "3", "b2", "w2"}, nobody->pw_uid);
	runoptions o = terminal(120, 24, {g.env(), "STANDIN_FAIL=mem:3"});
	// The stand-in goes to memglow alone: a sanitized one does not load
	// into sh or setpriv.
	o.standin = false;
	o.env.push_back("MEMGLOW_STANDIN=" + copy.lib);
	o.env.push_back("MEMGLOW_COPY=" + copy.bin);
	o.env.push_back("LD_LIBRARY_PATH=" + copy.libs);
	o.wrapper = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "sh", "-c",
		     "LD_PRELOAD=\"$MEMGLOW_STANDIN\" exec \"$MEMGLOW_COPY\" \"$@\""};
	bool sent = false;
	o.onoutput = [&](pid_t, int pty, const std::string &out) {
		if (sent || out.size() < first.size())
			return;
		sent = true;
		ASSERT_TRUE(g.waitfor("b2.held"));
		typeflow(pty, true);
		resize(pty, 40, 24);
		g.remove("b2");
		// The write finds the terminal stopped (or, through a
		// description that blocks, waits until ^Q).
		g.waitfor("w2.held");
		g.remove("w2");
		type(pty, "\021");
	};
	runresult r = runmemglow({"-t", "-s", "0.5"}, o);
	startsafresh(r, first);
}

// Where the run writes through standard output, which blocks (here its own
// description would not fit an fd_set), it asks first whether the terminal
// takes bytes: a frame that waits behind ^S while the terminal is resized
// is built again for the new width at ^Q, and starts afresh below.
// (Written blind, it would have blocked in the write and gone out stale.)
TEST(Races, AFrameThatWaitsOnStandardOutputFollowsAResize)
{
	struct rlimit saved;
	if (!allowfdsetsize(&saved))
		GTEST_SKIP() << "RLIMIT_NOFILE allows no descriptor numbered FD_SETSIZE here";
	// Lines that fit 120 columns and not 40: rows drawn at 120 that a
	// terminal now 40 wide may have re-wrapped.
	const std::string first = fresh({"-t"}, {}, 120, 24);
	const gates g({"1"});
	runoptions o = terminal(120, 24, {g.env(), "STANDIN_FAIL=mem:3"});
	o.fillfds = FD_SETSIZE;
	bool sent = false, waited = false;
	o.onoutput = [&](pid_t pid, int pty, const std::string &out) {
		if (sent || out.size() < first.size())
			return;
		sent = true;
		typeflow(pty, true);
		g.put("2");
		g.put("3");
		waited = waitsforterminal(pid);
		resize(pty, 40, 24);
		waitactedon(pid);
		type(pty, "\021");
	};
	runresult r = runmemglow({"-t", "-s", "0.5"}, o);
	setrlimit(RLIMIT_NOFILE, &saved);
	EXPECT_TRUE(waited);
	startsafresh(r, first);
}

// A kill while the first report is written, after the terminal took part
// of it: where it takes the rest, though in pieces or after a moment when
// it was full, the report is finished and its newline given back; where it
// takes no more, the report stays cut and gets no newline, even where the
// terminal would take that.
TEST(Races, AKillAfterAReportWentOutInPart)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	struct {
		const char *name, *writes;
		bool whole;
	} cases[] = {
		{"the rest in pieces", "STANDIN_WRITE=short", true},
		{"the terminal full for a moment", "STANDIN_WRITE=short,again:2", true},
		{"the terminal full for the rest", "STANDIN_WRITE=short,full:2", false},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		const gates g({"1", "2", "w1"});
		runoptions o = terminal(80, 24, {g.env(), c.writes});
		bool sent = false;
		o.onoutput = whileheld(g, "w1", SIGTERM, &sent);
		runresult r = runmemglow({"-t", "-s", "1"}, o);
		EXPECT_EQ(r.signal, SIGTERM);
		if (c.whole) {
			EXPECT_EQ(r.out, report + "\r\n");
		} else {
			// Half the frame, which ends in the middle of a line.
			ASSERT_LT(r.out.size(), report.size());
			EXPECT_EQ(r.out, report.substr(0, r.out.size()));
			EXPECT_NE(r.out.back(), '\n');
		}
	}
}

// A report gone out in part when a resize comes: the rest of it goes out as
// it was (the terminal shows the part already), not a report built anew.
TEST(Races, AResizeAfterAReportWentOutInPart)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	const gates g({"1", "2", "w1"});
	runoptions o = terminal(80, 24, {g.env(), "STANDIN_WRITE=short", "STANDIN_FAIL=mem:2"});
	bool sent = false;
	o.onoutput = [&](pid_t pid, int pty, const std::string &) {
		if (sent)
			return;
		sent = true;
		ASSERT_TRUE(g.waitfor("w1.held"));
		resize(pty, 80, 30);
		waitactedon(pid);
		g.remove("w1");
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(r.err, failed);
	EXPECT_EQ(r.out, report + "\r\n");
}

// A kill while the newline given back at a failure waits behind ^S, and
// ^Q before the run acts on it: the newline goes out, and the run ends by
// the kill.
TEST(Races, AKillWhileTheNewlineGivenBackWaits)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	const gates g({"1", "p1"});
	runoptions o = terminal(80, 24, {g.env(), "STANDIN_FAIL=mem:2"});
	bool sent = false, waited = false;
	o.onoutput = [&](pid_t pid, int pty, const std::string &out) {
		if (sent || out.size() < report.size())
			return;
		sent = true;
		typeflow(pty, true);
		g.put("2");
		waited = waitsforterminal(pid);
		kill(pid, SIGTERM);
		ASSERT_TRUE(g.waitfor("p1.held"));
		typeflow(pty, false);
		g.remove("p1");
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_TRUE(waited);
	EXPECT_EQ(r.signal, SIGTERM);
	EXPECT_EQ(r.out, report + "\r\n");
}

// A kill just after the newline given back at a failure: one newline, and
// the run ends by the signal, before its message.
TEST(Races, AKillJustAfterTheNewlineGivenBack)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	const gates g({"1", "2", "w2"});
	runoptions o = terminal(80, 24, {g.env(), "STANDIN_FAIL=mem:2"});
	bool sent = false;
	o.onoutput = whileheld(g, "w2", SIGINT, &sent);
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(r.signal, SIGINT);
	EXPECT_EQ(r.out, report + "\r\n");
	EXPECT_EQ(r.err, "");
}

// Two kills: the first ends the run, also where the second comes while the
// run gives the newline back (then it is held back until the end, and
// Linux would let the lower-numbered one through first).
TEST(Races, TheFirstOfTwoKillsEndsTheRun)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	const gates g({"1", "w1", "w2"});
	runoptions o = terminal(80, 24, {g.env()});
	bool first = false, second = false;
	auto term = whileheld(g, "w1", SIGTERM, &first);
	auto interrupt = whileheld(g, "w2", SIGINT, &second);
	o.onoutput = [&](pid_t pid, int pty, const std::string &out) {
		term(pid, pty, out);
		interrupt(pid, pty, out);
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(r.signal, SIGTERM);
	EXPECT_EQ(r.out, report + "\r\n");
}

// Step *step of two: sends the signals in turn, each once acted on, then
// lets the next sample through, and at the second step also the one after
// it, which fails and ends the run.
void signalthennext(pid_t pid, std::vector<int> sigs, const gates &g, int *step)
{
	for (int sig : sigs) {
		kill(pid, sig);
		waitactedon(pid);
	}
	g.put(std::to_string(*step + 2));
	if (*step == 1)
		g.put("4");
	++*step;
}

// A continue after a report drawn afresh for a continue, with no stop
// between (runuser and su continue their child again after the shell's fg,
// at times after that report): the next report is drawn in place.
TEST(Races, ASecondContinueWithoutAStopDrawsInPlace)
{
	const std::string first = fresh({"-t"}, {}, 80, 24);
	const gates g({"1"});
	runoptions o = terminal(80, 24, {g.env(), "STANDIN_FAIL=mem:4"});
	o.realsleep = true;
	o.timeout = 30;
	int step = 0;
	o.onoutput = [&](pid_t pid, int, const std::string &out) {
		if (step < 2 && count(out, "Total") > static_cast<size_t>(step) &&
		    (step > 0 || out.size() >= first.size()))
			signalthennext(pid, {SIGCONT}, g, &step);
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(step, 2);
	EXPECT_EQ(r.err, failed);
	ASSERT_EQ(r.out.substr(0, first.size()), first);
	const std::string second = r.out.substr(first.size(), r.out.find("Total", first.size()) - first.size());
	EXPECT_EQ(count(second, "\033[2A"), 0u) << "the first continue's report starts afresh: " << second;
	EXPECT_EQ(count(r.out, "\r\033[2A"), 1u) << "the second's is drawn in place: " << r.out;
}

// Into a pipe, each stop (^Z) and continue before a report leaves out its
// cursor-up, also a second one right after a report that left it out for
// the first: the shell may have written below meanwhile.
TEST(Races, EachStopAndContinueIntoAPipe)
{
	const gates g({"1"});
	runoptions o;
	o.realsleep = true;
	o.timeout = 30;
	o.env = {g.env(), "STANDIN_FAIL=mem:4"};
	std::string report;
	int step = 0;
	o.onoutput = [&](pid_t pid, int, const std::string &out) {
		if (step == 0)
			report = out;
		if (step < 2 && out.size() >= report.size() * static_cast<size_t>(step + 1))
			signalthennext(pid, {SIGTSTP, SIGCONT}, g, &step);
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(step, 2);
	EXPECT_EQ(r.err, failed);
	EXPECT_EQ(r.out, report + report + report);
}

// Into a pipe, kill -STOP and two kill -CONT (or su and runuser after the
// shell's fg): the first continue leaves out the next cursor-up, the second,
// with no stop since, does not, so the reader does not see the report twice.
TEST(Races, ASecondContinueWithoutAStopIntoAPipe)
{
	const gates g({"1"});
	runoptions o;
	o.realsleep = true;
	o.timeout = 30;
	o.env = {g.env(), "STANDIN_FAIL=mem:4"};
	std::string report;
	int step = 0;
	o.onoutput = [&](pid_t pid, int, const std::string &out) {
		if (step == 0)
			report = out;
		if (step < 2 && out.size() >= report.size() * static_cast<size_t>(step + 1))
			signalthennext(pid, step == 0 ? std::vector<int>{SIGSTOP, SIGCONT} : std::vector<int>{SIGCONT},
				       g, &step);
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(step, 2);
	EXPECT_EQ(r.err, failed);
	EXPECT_EQ(r.out, report + report + "\033[3A" + report);
}

// Waits until the process has ended (a zombie), at most 5 s; whether it did.
bool ends(pid_t pid)
{
	for (int i = 0; i < 500; i++) {
		if (procstatus(pid, "State:")[0] == 'Z')
			return true;
		usleep(10000);
	}
	return false;
}

// A kill that comes after the run looked at what came, before it waits for
// a terminal stopped with ^S (its second blocking of the signals, after the
// first pause's): the run blocks the signals before it looks, so it sees
// the kill and ends without waiting for ^Q.
TEST(Races, AKillJustBeforeAWaitForAStoppedTerminal)
{
	const gates g({"1", "m2"});
	runoptions o = terminal(80, 24, {g.env()});
	bool sent = false, ended = false;
	o.onoutput = [&](pid_t pid, int pty, const std::string &out) {
		if (sent || out.find("Total") == std::string::npos)
			return;
		sent = true;
		ASSERT_EQ(write(pty, "\023", 1), 1);
		g.put("2");
		ASSERT_TRUE(g.waitfor("m2.held"));
		kill(pid, SIGINT);
		waitactedon(pid);
		g.remove("m2");
		ended = ends(pid);
		ASSERT_EQ(write(pty, "\021", 1), 1);
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_TRUE(ended) << "the run waited for ^Q";
	EXPECT_EQ(r.signal, SIGINT);
}

// After a wait for the terminal the signals are let through again: a kill
// that comes as the frame then goes out (its write held back) is taken
// there, and the run ends once the frame is out, not in the next pause
// (which the trace would show).
TEST(Races, AKillAfterAWaitForTheTerminal)
{
	const gates g({"1", "2", "b3"});
	runoptions o = terminal(80, 24, {g.env(), "STANDIN_WRITE=again:2", "STANDIN_TRACE=1"});
	bool sent = false;
	o.onoutput = [&](pid_t pid, int, const std::string &) {
		if (sent)
			return;
		sent = true;
		ASSERT_TRUE(g.waitfor("b3.held"));
		kill(pid, SIGINT);
		waitactedon(pid);
		g.remove("b3");
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(r.signal, SIGINT);
	EXPECT_EQ(count(r.err, "[pselect("), 1u) << r.err;
}

// Two kills while a frame is made, the higher-numbered first: that one
// ends the run.  (Held back together, Linux would let the lower-numbered
// one through first.)
TEST(Races, TheFirstOfTwoKillsWhileAFrameIsMadeEndsTheRun)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	const gates g({"1", "2", "3", "s2"});
	runoptions o = terminal(80, 24, {g.env()});
	bool sent = false;
	o.onoutput = [&](pid_t pid, int, const std::string &) {
		if (sent)
			return;
		sent = true;
		ASSERT_TRUE(g.waitfor("s2.held"));
		kill(pid, SIGTERM);
		waitactedon(pid);
		kill(pid, SIGINT);
		g.remove("s2");
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(r.signal, SIGTERM);
	EXPECT_EQ(r.out, report + "\r\n");
}

// A failure's message that waits for a terminal of its own (standard
// error), stopped with ^S, while the signal comes; ^Q lets it go on.
// Whether the signal ends the run, or the message goes out whole.
void messagewaits(int sig, bool ignored, bool ends)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	const int errpty = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
	ASSERT_GE(errpty, 0);
	ASSERT_EQ(grantpt(errpty), 0);
	ASSERT_EQ(unlockpt(errpty), 0);
	const std::string name = ptsname(errpty);
	const int side = open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
	ASSERT_GE(side, 0);
	typeflow(errpty, true);

	runoptions o = terminal(80, 24, {"STANDIN_FAIL=mem:2"});
	if (ignored)
		o.ignored = {sig};
	// The stand-in goes to memglow alone: a sanitized one does not load
	// into sh.
	o.standin = false;
	o.env.push_back(std::string("MEMGLOW_STANDIN=") + STANDIN_LIB);
	o.env.push_back("MEMGLOW_ERR=" + name);
	o.wrapper = {"sh", "-c", "exec 2>\"$MEMGLOW_ERR\"; LD_PRELOAD=\"$MEMGLOW_STANDIN\" exec \"$0\" \"$@\""};
	bool blocked = false, handled = false, sent = false;
	o.onoutput = [&](pid_t pid, int, const std::string &out) {
		if (sent || out != report + "\r\n")
			return;
		sent = true;
		for (int i = 0; i < 1000 && !blocked; i++) {
			blocked = wchan(pid) == "wait_woken";
			usleep(10000);
		}
		kill(pid, sig);
		for (int i = 0; i < 1000 && !handled; i++) {
			handled = actedon(pid);
			usleep(10000);
		}
		type(errpty, "\021");
	};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	close(side);
	std::string err;
	char buf[256];
	fcntl(errpty, F_SETFL, O_NONBLOCK);
	for (ssize_t n; (n = read(errpty, buf, sizeof buf)) > 0;)
		err.append(buf, static_cast<size_t>(n));
	close(errpty);
	EXPECT_TRUE(blocked) << "the message was not seen waiting";
	EXPECT_TRUE(handled);
	if (ends) {
		EXPECT_EQ(r.signal, sig);
	} else {
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(err, "Error getting memory information.\r\n");
	}
}

// A resize, or a stop and continue, while the failure's message waits
// does not lose it; the run has given the ending signals back their
// actions, so an interrupt ends it there.
TEST(Races, SignalsWhileTheFailuresMessageWaits)
{
	for (int sig : {SIGWINCH, SIGCONT, SIGINT}) {
		SCOPED_TRACE(strsignal(sig));
		messagewaits(sig, false, sig == SIGINT);
	}
}

// A hang-up ignored at the start (nohup) stays ignored while the failure's
// message waits.
TEST(Races, AnIgnoredHangupWhileTheFailuresMessageWaits)
{
#if MEMGLOW_EMULATED
	GTEST_SKIP() << "qemu-user catches every signal itself, ignored ones too, and a blocking "
			"write that it interrupts fails";
#endif
	messagewaits(SIGHUP, true, false);
}

// The times of the samples, on the stand-in's clock, from its trace.
std::vector<std::string> sampletimes(const std::string &trace)
{
	std::vector<std::string> times;
	const std::string call = " sg_get_mem_stats]";
	for (size_t at = 0; (at = trace.find(call, at)) != std::string::npos; at += call.size()) {
		const size_t start = trace.rfind('[', at) + 1;
		times.push_back(trace.substr(start, at - start));
	}
	return times;
}

// Pauses cut by resizes and continues, on the stand-in's clock: a resize
// draws the report anew once the size has stayed put for 0.2 s, but never
// after the pause was due; an edge dragged for longer than the pause does
// not stretch it; a continue ends it once continues have stopped for 0.2 s
// (runuser continues its child a second time).  A report that will be a
// copy, as the terminal has grown narrower than a row of the one on screen
// (76 columns here), waits until the size has stayed put for 0.5 s, past
// the pause: a multiplexer tells each size of a dragged edge up to 0.3 s
// late, and each report drawn meanwhile would be one more copy.
TEST(Pauses, CutByResizesAndContinues)
{
	// A resize every 0.1 s.
	std::string drag = "clock";
	char at[32];
	for (int i = 0; i < 25; i++) {
		snprintf(at, sizeof at, ",winch@%.2f", 0.05 + 0.1 * i);
		drag += at;
	}
	struct {
		const char *name, *delay;
		std::string clock;
		std::vector<std::string> times;
	} cases[] = {
		{"a resize early in the pause", "1", "clock,winch@0.3",
		 {"0.000000000", "0.500000000", "1.500000000"}},
		{"a resize late in the pause", "1", "clock,winch@0.9",
		 {"0.000000000", "1.000000000", "2.000000000"}},
		{"two resizes, the second late", "1", "clock,winch@0.7,winch@0.85",
		 {"0.000000000", "1.000000000", "2.000000000"}},
		// The second pause ends once the dragging has stopped for
		// 0.2 s.
		{"an edge dragged for 2.5 s", "1.5", drag,
		 {"0.000000000", "1.500000000", "2.650000000"}},
		{"a continue", "1", "clock,cont@0.3", {"0.000000000", "0.500000000", "1.500000000"}},
		{"two continues", "1", "clock,cont@0.3,cont@0.301",
		 {"0.000000000", "0.501000000", "1.501000000"}},
		{"dragged narrower, told late", "0.1", "clock,width=60@0.15,width=50@0.4,width=40@0.65",
		 {"0.000000000", "0.100000000", "1.150000000"}},
		{"dragged wider", "0.1", "clock,width=90@0.15,width=100@0.4,width=120@0.65",
		 {"0.000000000", "0.100000000", "0.200000000"}},
		// A multiplexer may be narrower still than it says while
		// an edge is dragged, and re-wrap the rows on screen: any
		// narrowing waits as one that makes a copy does.
		{"narrower, the rows still fit", "0.1", "clock,width=77@0.15",
		 {"0.000000000", "0.100000000", "0.650000000"}},
		{"narrower than a row", "0.1", "clock,width=75@0.15",
		 {"0.000000000", "0.100000000", "0.650000000"}},
		// Some terminals keep their top rows when made shorter,
		// and move the cursor into them: the report will be a copy.
		{"shorter", "0.1", "clock,height=20@0.15", {"0.000000000", "0.100000000", "0.650000000"}},
		{"shorter and back", "0.1", "clock,height=20@0.15,height=24@0.3",
		 {"0.000000000", "0.100000000", "0.800000000"}},
		{"taller", "0.1", "clock,height=30@0.15", {"0.000000000", "0.100000000", "0.200000000"}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		runoptions o = terminal(80, 24, {"STANDIN_SLEEP=" + c.clock, "STANDIN_TRACE=1", "STANDIN_FAIL=mem:3"});
		runresult r = runmemglow({"-t", "-s", c.delay}, o);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(sampletimes(r.err), c.times) << r.err;
	}
}

// The stand-in makes the files of its gates afresh, following no link:
// the folder may be another user's, who could put one under the name of
// the next, to have a run of root's make or truncate a file elsewhere.
TEST(Windows, TheGatesFilesFollowNoLink)
{
	const gates g({"1"});
	const std::string elsewhere = g.top + "/elsewhere";
	ASSERT_EQ(symlink(elsewhere.c_str(), (g.dir + "/1.taken").c_str()), 0);
	runoptions o;
	o.env = {g.env()};
	const runresult r = runmemglow({"-o"}, o);
	EXPECT_EQ(r.status, 0) << r.err;
	EXPECT_NE(access(elsewhere.c_str(), F_OK), 0) << "the stand-in made a file through a link";
	unlink(elsewhere.c_str());
}

}  // namespace
