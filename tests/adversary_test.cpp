// SPDX-License-Identifier: ISC
// The terminal under adversarial use: a frame that waits (^S) while the
// terminal changes under it, streams closed at the start, standard output
// on a pseudo-terminal's master, reports that outgrow a short pane, slow
// samples, and a caller's own signal settings.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "gates.h"
#include "onterminal.h"
#include "run.h"
#include "screen.h"

namespace {

// Whether the bytes move the cursor up (ESC [ digits A).
bool movesup(const std::string &bytes)
{
	for (size_t at = 0; (at = bytes.find("\033[", at)) != std::string::npos; at += 2) {
		size_t end = at + 2;
		while (end < bytes.size() && bytes[end] >= '0' && bytes[end] <= '9')
			end++;
		if (end > at + 2 && end < bytes.size() && bytes[end] == 'A')
			return true;
	}
	return false;
}

// Whether the process runs under qemu-user, where /proc shows the
// emulator's descriptors and signal handlers, not the program's.
bool emulated(pid_t pid)
{
	char path[256];
	const std::string link = "/proc/" + std::to_string(pid) + "/exe";
	const ssize_t n = readlink(link.c_str(), path, sizeof path);
	return n > 0 && std::string(path, static_cast<size_t>(n)).find("qemu") != std::string::npos;
}

bool inset(const std::string &hexmask, int sig)
{
	const unsigned long long mask = std::stoull(hexmask, nullptr, 16);
	return (mask >> (sig - 1)) & 1;
}

using clocktime = std::chrono::steady_clock;

// Seconds since t: how long a run took from a signal the test sent, which
// a late or busy harness does not lengthen.
double since(clocktime::time_point t)
{
	return std::chrono::duration<double>(clocktime::now() - t).count();
}

// Waits until the process has taken the signal (none of its kind is
// pending), or is gone.
bool taken(pid_t pid, int sig)
{
	for (int i = 0; i < 3000; i++) {
		const std::string shared = procstatus(pid, "ShdPnd:"), own = procstatus(pid, "SigPnd:");
		if (shared.empty() || own.empty() || (!inset(shared, sig) && !inset(own, sig)))
			return true;
		usleep(10000);
	}
	return false;
}

// A terminal as a shell leaves it, with real pauses.
runoptions live(int columns, int rows, std::vector<std::string> env)
{
	runoptions o = terminal(columns, rows, std::move(env));
	o.realsleep = true;
	o.timeout = 10;
	return o;
}

// Types ^S once the first report (its bytes) is out.
std::function<void(pid_t, int, const std::string &)> ctrlsafter(size_t bytes)
{
	auto typed = std::make_shared<bool>(false);
	return [bytes, typed](pid_t, int pty, const std::string &out) {
		if (!*typed && out.size() >= bytes) {
			type(pty, "\023");
			*typed = true;
		}
	};
}

// A frame that waited behind ^S while the terminal was resized so that the
// report on screen takes other rows is built for the terminal as it is
// when it goes out: it starts afresh below, instead of climbing by the
// rows counted at the old width, over what is above the report.  Also on
// a terminal that is not the controlling one, where no resize is sent.
TEST(AFrameThatWaited, FollowsAResize)
{
	for (bool nocontrol : {false, true}) {
		SCOPED_TRACE(nocontrol ? "not the controlling terminal" : "the controlling terminal");
		// Lines that fit 120 columns and not 40: rows drawn at 120 that a
		// terminal now 40 wide may have re-wrapped.
		const std::string first = fresh({"-t"}, {}, 120, 24);
		runoptions o = live(120, 24, {"STANDIN_FAIL=mem:3"});
		o.nocontrol = nocontrol;
		o.onoutput = ctrlsafter(first.size());
		o.at = {{1.2, [](pid_t, int pty) {
				 resize(pty, 40, 24);
				 type(pty, "\021");
			 }}};
		runresult r = runmemglow({"-t", "-s", "0.5"}, o);
		ASSERT_EQ(r.err, failed);
		ASSERT_EQ(r.out.substr(0, first.size()), first);
		const std::string after = r.out.substr(first.size());
		EXPECT_EQ(after.substr(0, 2), "\r\n") << "afresh below";
		EXPECT_FALSE(movesup(after.substr(0, after.find("Total")))) << after;
		emulator e(24, 120);
		e.feed(above + first);
		e.resize(24, 40);
		e.feed(after);
		const screenshot s = e.shot();
		EXPECT_EQ(std::vector<std::string>(s.rows.begin(), s.rows.begin() + 3), aboverows) << show(s);
	}
}

// A frame that waited behind ^S while the job was stopped (^Z) and sent to
// the background: it goes out afresh, and no report of a job in the
// background moves up over what the shell wrote.
TEST(AFrameThatWaited, FollowsTheJobToTheBackground)
{
	runoptions o = terminal(80, 40, {});
	o.realsleep = true;
	o.timeout = 15;
	o.standin = false;
	o.env.push_back(std::string("MEMGLOW_STANDIN=") + STANDIN_LIB);
	o.wrapper = {"sh", "-c",
		     "set -m; env LD_PRELOAD=\"$MEMGLOW_STANDIN\" \"$0\" \"$@\"; printf 'stopped\\n'; "
		     "bg >/dev/null; sleep 1; kill %1; wait"};
	o.onoutput = ctrlsafter(fresh({"-t"}, {}, 80, 40).size());
	o.at = {{1.0, [](pid_t, int pty) { type(pty, "\032"); }},
		{1.2, [](pid_t, int pty) { type(pty, "\021"); }}};
	runresult r = runmemglow({"-t", "-s", "0.3"}, o);
	const size_t at = r.out.find("stopped\r\n");
	ASSERT_NE(at, std::string::npos) << r.out;
	const std::string after = r.out.substr(at);
	EXPECT_GE(count(after, "Total"), 2u) << after;
	EXPECT_FALSE(movesup(after)) << after;
}

// A frame that waited is built again from the report on screen, not from
// itself: here the report grew by some rows (figures in bytes
// that wrap), and the frame must still climb over the rows on screen.
// One built after a continue stays afresh when it is built again.
TEST(AFrameThatWaited, IsBuiltAgainFromWhatIsOnScreen)
{
	struct {
		const char *name;
		std::vector<std::string> env;
		double cont;  // a continue at so many seconds, or none
		std::string starts;
	} cases[] = {
		{"the report grew", figures(example + ";" + TiBfree, ""), -1, ""},
		{"after a continue", {}, 0.5, "\r\n"},
	};
	for (auto &c : cases) {
		SCOPED_TRACE(c.name);
		std::vector<std::string> env = c.env;
		env.push_back("STANDIN_FAIL=mem:3");
		const std::string first = fresh({"-t", "-b"}, c.env, 80, 24);
		if (c.starts.empty()) {
			// Up over the rows of the report on screen, fewer than the
			// new one's.
			const int rows = render(first, 24, 80).cursorrow;
			ASSERT_LT(rows, render(fresh({"-t", "-b"}, figures(TiBfree, ""), 80, 24), 24, 80).cursorrow);
			c.starts = "\r\033[" + std::to_string(rows) + "A";
		}
		runoptions o = live(80, 24, env);
		o.onoutput = ctrlsafter(first.size());
		o.at = {{1.0, [](pid_t, int pty) { type(pty, "\021"); }}};
		if (c.cont >= 0)
			o.at.insert(o.at.begin(), {c.cont, [](pid_t pid, int) { kill(pid, SIGCONT); }});
		runresult r = runmemglow({"-t", "-b", "-s", "0.7"}, o);
		ASSERT_EQ(r.err, failed);
		ASSERT_EQ(r.out.substr(0, first.size()), first);
		EXPECT_EQ(r.out.substr(first.size(), c.starts.size()), c.starts) << r.out.substr(first.size());
	}
}

// A reader that stops reading: the terminal's buffer fills, and a frame
// goes out in part.  The rest of it follows once the reader reads again,
// and nothing more: every frame after the first report is the same, since
// the figures are.
TEST(AFrameThatWaited, OneGoneOutInPartIsFinishedAsItWas)
{
	const std::string first = fresh({"-t"}, {}, 80, 24);
	runoptions o = live(80, 24, {});
	bool held = false;
	o.onoutput = [&](pid_t, int, const std::string &out) {
		if (!held && out.size() >= first.size()) {
			held = true;
			usleep(500000);
		}
	};
	o.at = {{1.0, [](pid_t pid, int) { kill(pid, SIGTERM); }}};
	runresult r = runmemglow({"-t", "-s", "0.0000001"}, o);
	EXPECT_EQ(r.signal, SIGTERM);
	ASSERT_EQ(r.out.substr(0, first.size()), first);
	const std::string rest = r.out.substr(first.size());
	const std::string up = "\r\033[2A";
	const size_t second = rest.find(up, up.size());
	ASSERT_NE(second, std::string::npos);
	const std::string frame = rest.substr(0, second);
	ASSERT_EQ(frame.substr(0, up.size()), up);
	EXPECT_GT(rest.size() / frame.size(), 100u) << "the buffer filled";
	// What follows the whole frames at the start of the text.
	const auto tail = [&](const std::string &text) {
		size_t at = 0;
		while (at < text.size() && text.compare(at, frame.size(), frame) == 0)
			at += frame.size();
		return text.substr(at);
	};
	// Where the terminal took bytes when SIGTERM came, the frame going out
	// was finished and the newline given back.  Where this reader had
	// fallen behind (a busy machine) and the terminal's buffer was full,
	// neither could be, as documented: then the text ends in whole frames
	// and the start of one.
	const bool finished = rest.size() >= 2 && rest.compare(rest.size() - 2, 2, "\r\n") == 0 &&
			      tail(rest.substr(0, rest.size() - 2)).empty();
	const std::string cut = tail(rest);
	EXPECT_TRUE(finished || frame.compare(0, cut.size(), cut) == 0)
		<< "a frame differs: " << cut.substr(0, 2 * frame.size());
}

// ^S then ^Q: the frame that waited goes out as soon as the terminal takes
// bytes again, and the run goes on without a signal to wake it.
TEST(AFrameThatWaited, GoesOutAtCtrlQ)
{
	runoptions o = live(80, 24, {"STANDIN_FAIL=mem:6"});
	o.onoutput = ctrlsafter(fresh({"-t"}, {}, 80, 24).size());
	o.at = {{0.8, [](pid_t, int pty) { type(pty, "\021"); }}};
	runresult r = runmemglow({"-t", "-s", "0.2"}, o);
	EXPECT_EQ(r.signal, 0);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, failed);
	EXPECT_EQ(count(r.out, "Total"), 5u);
}

// The run's own description of the terminal: never 0, 1 or 2, so that a
// stream closed at the start stays closed (a failure's message does not
// reach the terminal that stderr was closed for); written without blocking,
// and not handed to other programs.
TEST(OwnDescriptor, LeavesClosedStreamsClosed)
{
	for (int closed : {-1, 0, 2}) {
		SCOPED_TRACE(closed == 0 ? "stdin closed" : closed == 2 ? "stderr closed" : "none closed");
		runoptions o = terminal(80, 24, {"STANDIN_FAIL=mem:3"});
		o.realsleep = true;
		o.closestdin = closed == 0;
		o.closestderr = closed == 2;
		bool open = true, qemu = false;
		std::vector<std::string> own;  // the flags of each other description of the terminal
		o.at = {{0.3, [&](pid_t pid, int) {
				 const std::string dir = "/proc/" + std::to_string(pid);
				 qemu = emulated(pid);
				 auto target = [&](int fd) {
					 char path[256];
					 const std::string link = dir + "/fd/" + std::to_string(fd);
					 const ssize_t n = readlink(link.c_str(), path, sizeof path);
					 return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
				 };
				 open = closed >= 0 && !target(closed).empty();
				 for (int fd = 3; fd < 64; fd++) {
					 if (target(fd) != target(1))
						 continue;
					 std::ifstream info(dir + "/fdinfo/" + std::to_string(fd));
					 for (std::string line; std::getline(info, line);)
						 if (line.rfind("flags:", 0) == 0)
							 own.push_back(line.substr(line.find_first_not_of(" \t", 6)));
				 }
			 }}};
		runresult r = runmemglow({"-t", "-s", "0.5"}, o);
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.out.find("Error"), std::string::npos) << r.out;
		EXPECT_EQ(r.err, closed == 2 ? "" : failed);
		if (qemu)
			GTEST_SKIP() << "under qemu-user /proc shows the emulator's descriptors";
		EXPECT_FALSE(open);
		ASSERT_EQ(own.size(), 1u);
		const unsigned long flags = std::stoul(own[0], nullptr, 8);
		EXPECT_NE(flags & 04000, 0u) << "O_NONBLOCK";
		EXPECT_NE(flags & 02000000, 0u) << "O_CLOEXEC";
	}
}

// A description of the terminal that does not fit an fd_set (the lowest
// free number is FD_SETSIZE) is not kept: the run writes through standard
// output, and goes on after ^S and ^Q.
TEST(OwnDescriptor, OneThatDoesNotFitAnFdSetIsNotKept)
{
	struct rlimit saved;
	if (!allowfdsetsize(&saved))
		GTEST_SKIP() << "RLIMIT_NOFILE allows no descriptor numbered FD_SETSIZE here";
	runoptions o = live(80, 24, {"STANDIN_FAIL=mem:6"});
	o.fillfds = FD_SETSIZE;
	bool stopped = false, kept = false, qemu = false;
	o.onoutput = [&](pid_t pid, int pty, const std::string &out) {
		if (!stopped && count(out, "Total") == 1) {
			qemu = emulated(pid);
			const std::string fd = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(FD_SETSIZE);
			kept = access(fd.c_str(), F_OK) == 0;
			type(pty, "\023");
			stopped = true;
		}
	};
	o.at = {{0.8, [](pid_t, int pty) { type(pty, "\021"); }}};
	runresult r = runmemglow({"-t", "-s", "0.2"}, o);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, failed);
	EXPECT_EQ(count(r.out, "Total"), 5u);
	if (!qemu) {
		EXPECT_FALSE(kept);
	}

	// Standard output blocks: a kill while the terminal takes nothing
	// still ends the run, which gives no newline back that would block.
	// (Held, it would never end.)
	clocktime::time_point sent;
	o.at = {{0.8, [&sent](pid_t pid, int) {
			 sent = clocktime::now();
			 kill(pid, SIGTERM);
		 }}};
	o.timeout = 60;
	stopped = false;
	r = runmemglow({"-t", "-s", "0.2"}, o);
	setrlimit(RLIMIT_NOFILE, &saved);
	EXPECT_EQ(r.signal, SIGTERM);
	EXPECT_LT(since(sent), 10.0);
}

// Standard output on a pseudo-terminal's master, as a terminal emulator
// holds it: its name is the cloning device, and opening that would make
// another terminal.  Every report reaches the other side.
TEST(OwnDescriptor, AMasterIsWrittenItself)
{
	runoptions o;
	o.ptycolumns = 80;
	o.ptyrows = 24;
	o.ptymaster = true;
	o.realsleep = true;
	o.timeout = 5;
	// Read while the run goes on: a terminal's hang-up at the master's
	// close throws away what was not read yet.
	bool seen = false;
	o.onoutput = [&](pid_t pid, int, const std::string &out) {
		if (!seen && count(out, "Total") == 3) {
			seen = true;
			kill(pid, SIGTERM);
		}
	};
	runresult r = runmemglow({"-t", "-s", "0.1"}, o);
	EXPECT_TRUE(seen) << r.out;
	EXPECT_EQ(r.signal, SIGTERM);
}

// A report that grows past a short pane's height is cut to the pane like
// one that was already as tall: the pane gains no history.
TEST(ShortPanes, AReportThatGrowsPastItDoesNotScroll)
{
	// Three rows at 90 columns, then six (every line wraps once).
	const std::string mem = "8589934592 1073741824 3221225472;18014398509481984 9007199254740992 0";
	const std::string swap = "2147483648 2147483648;18014398509481984 9007199254740992";
	std::vector<std::string> env = figures(mem, swap);
	env.push_back("STANDIN_FAIL=mem:4");
	runresult r = runmemglow({"-t", "-b", "-s", "1"}, terminal(90, 4, env));
	ASSERT_EQ(r.err, failed);
	const std::string out = running(r.out);
	const size_t second = out.find("\r\033[");
	ASSERT_NE(second, std::string::npos);
	emulator e(4, 90);
	e.feed(out.substr(0, second));
	const int pushed = e.pushed();
	e.feed(out.substr(second));
	EXPECT_EQ(e.pushed(), pushed) << show(e.shot());
	const screenshot want = render(fresh({"-t", "-b"}, figures(lastof(mem), lastof(swap)), 90, 60), 60, 90);
	ASSERT_GE(want.cursorrow + 1, 5) << "the report grows past the pane";
	const screenshot got = e.shot();
	EXPECT_EQ(got.rows, std::vector<std::string>(want.rows.begin() + want.cursorrow - 3,
						     want.rows.begin() + want.cursorrow + 1))
		<< show(got);
}

// A kill while a sample takes long ends the run when it comes, with the
// report on screen whole and its newline given back; of two that come one
// after the other, the first ends it, whatever their numbers.  (Two that
// are both pending at once come through in the order of their numbers.)
// The second sample waits at the stand-in's gate, which stays shut: a run
// that waited for it would never end.
TEST(SlowSample, AKillDoesNotWaitForIt)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	for (const std::vector<int> &signals :
	     {std::vector<int>{SIGINT}, std::vector<int>{SIGTERM, SIGINT}}) {
		SCOPED_TRACE(strsignal(signals[0]));
		const gates g({"1"});
		runoptions o = live(80, 24, {g.env()});
		o.timeout = 60;
		bool sent = false;
		clocktime::time_point at;
		o.onoutput = [&](pid_t pid, int, const std::string &out) {
			if (!sent && count(out, "Total") == 1) {
				sent = true;
				ASSERT_TRUE(g.waitfor("2.held")) << "the second sample never started";
				at = clocktime::now();
				for (int sig : signals) {
					kill(pid, sig);
					ASSERT_TRUE(taken(pid, sig)) << strsignal(sig) << " stays pending";
				}
			}
		};
		runresult r = runmemglow({"-t", "-s", "0.1"}, o);
		EXPECT_TRUE(sent);
		EXPECT_EQ(r.signal, signals[0]);
		EXPECT_EQ(r.out, report + "\r\n");
		EXPECT_LT(since(at), 10.0);
	}
}

// Two ending signals, the second while the run finishes the report that
// the first interrupted: the first ends it, although the second has the
// lower number and would come through first.
TEST(SlowWrite, TheFirstOfTwoKillsEndsTheRun)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	runoptions o = live(80, 24, {"STANDIN_WRITE=slow"});
	bool sent = false;
	o.onoutput = [&](pid_t pid, int, const std::string &out) {
		if (!sent && !out.empty()) {
			kill(pid, SIGTERM);
			usleep(100000);
			kill(pid, SIGINT);
			sent = true;
		}
	};
	runresult r = runmemglow({"-t", "-s", "1000"}, o);
	EXPECT_EQ(r.signal, SIGTERM);
	EXPECT_EQ(r.out, report + "\r\n");
}

// A terminal that is not the run's controlling terminal has no foreground
// process group to ask about: the run is not taken for a job in the
// background, and refreshes in place.  Opening it does not make it the
// controlling terminal of the session the run leads (setsid memglow
// >/dev/ttyS0): a ^C typed there is not the run's.
TEST(NotControlling, RefreshesInPlace)
{
	runoptions o = terminal(80, 24, {"STANDIN_FAIL=mem:4"});
	o.nocontrol = true;
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, failed);
	EXPECT_EQ(count(r.out, "\r\033[2A"), 2u) << r.out;

	o.realsleep = true;
	bool typed = false;
	o.onoutput = [&](pid_t, int pty, const std::string &out) {
		if (!typed && count(out, "Total") == 1) {
			type(pty, "\003");
			typed = true;
		}
	};
	r = runmemglow({"-t", "-s", "0.2"}, o);
	EXPECT_EQ(r.signal, 0) << "the terminal became the run's";
	EXPECT_EQ(r.status, 1);
}

// What the caller set stays: signals it blocked stay blocked (an interrupt
// then does not end the run), and a run that prints one report takes over
// no signal at all.
TEST(CallersSignals, StayAsTheyWere)
{
	runoptions o = terminal(80, 24, {"STANDIN_FAIL=mem:4"});
	o.realsleep = true;
	o.blocked = {SIGINT};
	std::string blocked;
	bool qemu = false;
	o.at = {{0.25, [&](pid_t pid, int) {
			 qemu = emulated(pid);
			 blocked = procstatus(pid, "SigBlk:");
			 kill(pid, SIGINT);
		 }}};
	runresult r = runmemglow({"-t", "-s", "0.2"}, o);
	EXPECT_EQ(r.signal, 0);
	EXPECT_EQ(r.status, 1);
	if (qemu)
		GTEST_SKIP() << "under qemu-user /proc shows the emulator's signal settings";
	ASSERT_FALSE(blocked.empty());
	EXPECT_TRUE(inset(blocked, SIGINT)) << blocked;

	runoptions once = terminal(80, 24, {"STANDIN_DELAY=mem:1"});
	std::string caught;
	once.at = {{0.5, [&](pid_t pid, int) { caught = procstatus(pid, "SigCgt:"); }}};
	r = runmemglow({"-t"}, once);
	EXPECT_EQ(r.status, 0);
	ASSERT_FALSE(caught.empty());
	for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGWINCH, SIGCONT})
		EXPECT_FALSE(inset(caught, sig)) << strsignal(sig);
}


// A failure whose message the terminal does not take (standard error on
// the terminal, stopped with ^S): a kill still ends the run at once.
TEST(Failures, AMessageTheTerminalDoesNotTakeDoesNotHoldTheRun)
{
	runoptions o = live(80, 24, {"STANDIN_FAIL=mem:2"});
	o.stderrtopty = true;
	o.onoutput = ctrlsafter(fresh({"-t"}, {}, 80, 24).size());
	clocktime::time_point sent;
	o.at = {{1.5, [&sent](pid_t pid, int) {
			 sent = clocktime::now();
			 kill(pid, SIGTERM);
		 }}};
	o.timeout = 60;
	runresult r = runmemglow({"-t", "-s", "0.3"}, o);
	EXPECT_EQ(r.signal, SIGTERM);
	EXPECT_LT(since(sent), 10.0);
}

// What the driver makes of a run's failures on a terminal: a first sample
// that fails leaves the terminal as it was; a report that cannot be written
// is reported once, as the write error it is.
TEST(Failures, OnATerminal)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	const std::string eio = std::string("memglow: write error: ") + strerror(EIO) + "\n";
	struct {
		const char *name;
		std::vector<std::string> env;
		std::string out, err;
	} cases[] = {
		{"the first sample", {"STANDIN_FAIL=mem:1"}, "", failed},
		{"the first report's write", {"STANDIN_WRITE=fail:1"}, "", eio},
		// The newline given back fails too, with the same error.
		{"the second report's write", {"STANDIN_WRITE=fail:2"}, report, eio},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		runresult r = runmemglow({"-t", "-s", "1"}, terminal(80, 24, c.env));
		EXPECT_EQ(r.status, 1);
		EXPECT_EQ(r.out, c.out);
		EXPECT_EQ(r.err, c.err);
	}
}

}  // namespace

// Where the run's own description of the terminal lands: with stdin and
// stderr both closed it is numbered above stderr all the same, so that a
// failure's message goes nowhere rather than onto the terminal; and with
// no descriptor to spare (ulimit -n 3, stdin closed) the run draws through
// standard output.
TEST(OwnDescriptor, StdinAndStderrClosed)
{
	runoptions o = terminal(80, 24, {"STANDIN_FAIL=mem:3"});
	o.closestdin = true;
	o.closestderr = true;
	runresult r = runmemglow({"-t", "-s", "0.1"}, o);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(count(r.out, "Total"), 2u) << r.out;
	EXPECT_EQ(r.out.find("Error"), std::string::npos) << r.out;
}

TEST(OwnDescriptor, NoneToSpare)
{
#if MEMGLOW_SANITIZED || MEMGLOW_EMULATED
	GTEST_SKIP() << "the sanitizers' runtime, or qemu-user, needs descriptors of its own";
#endif
	// The stand-in is preloaded into memglow alone: a sanitized one does
	// not load into sh.
	runoptions o = terminal(80, 24, {"STANDIN_FAIL=mem:3"});
	o.closestdin = true;
	o.standin = false;
	o.env.push_back(std::string("MEMGLOW_STANDIN=") + STANDIN_LIB);
	o.wrapper = {"sh", "-c", "ulimit -n 3 && LD_PRELOAD=\"$MEMGLOW_STANDIN\" exec \"$0\" \"$@\""};
	runresult r = runmemglow({"-t", "-s", "0.1"}, o);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, failed);
	EXPECT_EQ(count(r.out, "Total"), 2u) << r.out;
}

// A one-shot run takes over no signal: an interrupt that its caller
// blocked, sent while the sample takes long, stays pending, on a terminal
// too, and the run prints its report and exits 0.
TEST(CallersSignals, AOneShotRunLeavesABlockedInterruptPending)
{
	const std::string report = fresh({"-t"}, {}, 80, 24);
	runoptions o = terminal(80, 24, {"STANDIN_DELAY=mem:0.5"});
	o.blocked = {SIGINT};
	o.at = {{0.1, [](pid_t pid, int) { kill(pid, SIGINT); }}};
	runresult r = runmemglow({"-t"}, o);
	EXPECT_EQ(r.signal, 0);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.out, report + "\r\n");
}

// Signals that come where the run cannot act on them at once wait for the
// next place where it can, never for the end of what it does there: a
// kill during the first sample, which never ends, ends the run; a kill, a resize, or a continue into a pipe,
// that comes after a report but before its pause of 1000 s begins (the
// stand-in puts the pause off by 2 s; the resize and the continue come
// half a second into them, after the run has looked for one) ends the run,
// or brings the next report, soon after.
TEST(SlowStart, SignalsDoNotWaitOutWhatTheRunDoes)
{
	// The first sample waits at the stand-in's gate, which stays shut.
	const gates g({});
	runoptions o = live(80, 24, {g.env()});
	o.timeout = 60;
	clocktime::time_point sent;
	o.at = {{0.3, [&](pid_t pid, int) {
			 ASSERT_TRUE(g.waitfor("1.held")) << "the first sample never started";
			 sent = clocktime::now();
			 kill(pid, SIGINT);
		 }}};
	runresult r = runmemglow({"-t", "-s", "1"}, o);
	EXPECT_EQ(r.signal, SIGINT);
	EXPECT_EQ(r.out, "");
	EXPECT_LT(since(sent), 10.0) << "the first sample ended first";

	enum { KILL, RESIZE, PIPECONTINUE };
	for (int what : {KILL, RESIZE, PIPECONTINUE}) {
		SCOPED_TRACE(what == KILL ? "a kill" : what == RESIZE ? "a resize" : "a continue into a pipe");
		if (what == PIPECONTINUE) {
			o = runoptions();
			o.realsleep = true;
			o.env = {"STANDIN_DELAY=pause:2"};
		} else {
			o = live(80, 24, {"STANDIN_DELAY=pause:2"});
		}
		o.timeout = 120;
		bool sent = false;
		o.onoutput = [&](pid_t pid, int pty, const std::string &out) {
			if (!sent && count(out, "Total") == 1) {
				sent = true;
				if (what == KILL) {
					kill(pid, SIGINT);
					return;
				}
				usleep(500000);
				if (what == RESIZE)
					resize(pty, 100, 24);
				else
					kill(pid, SIGCONT);
			} else if (sent && count(out, "Total") == 2) {
				kill(pid, SIGTERM);
			}
		};
		r = runmemglow({"-t", "-s", "1000"}, o);
		EXPECT_EQ(r.signal, what == KILL ? SIGINT : SIGTERM);
		EXPECT_LT(r.seconds, 100) << "the pause of 1000 s held it";
	}
}
