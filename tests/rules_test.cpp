// SPDX-License-Identifier: ISC
// The refresh rules: what a refreshing run does about continues, stops,
// resizes, ending signals, the background and the clock, cell by cell of
// the table in rules.h.
#include <csignal>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "rules.h"

namespace {

constexpr int64_t MS = 1000000;  // nanoseconds

// What came before a frame is built, in counts added to the last.
struct came {
	int continues, stops, resizes;
};

struct framestep {
	came before;
	bool foreground;
	bool rebuilt;  // built again (stale): no frame went out since the last build
	bool afresh, last;
};

struct drawcase {
	const char *name;
	bool onterminal;
	std::vector<framestep> frames;
};

// Each frame is built (choosedraw), and goes out whole (framedone) unless
// the next one is that frame built again.
TEST(Rules, HowEachFrameIsDrawn)
{
	const bool FG = true, BG = false, AGAIN = true, ONCE = false;
	const bool AFRESH = true, INPLACE = false, LAST = true, HOLDS = false;
	const drawcase cases[] = {
		{"nothing came: in place", true,
		 {{{0, 0, 0}, FG, ONCE, INPLACE, HOLDS}, {{0, 0, 0}, FG, ONCE, INPLACE, HOLDS}}},
		{"a resize alone changes nothing here (frames redraw for it)", true,
		 {{{0, 0, 2}, FG, ONCE, INPLACE, HOLDS}}},
		{"a stop and its continue start afresh", true,
		 {{{1, 1, 0}, FG, ONCE, AFRESH, HOLDS}, {{0, 0, 0}, FG, ONCE, INPLACE, HOLDS}}},
		{"a continue with no stop (kill -CONT) after a report in place", true,
		 {{{0, 0, 0}, FG, ONCE, INPLACE, HOLDS}, {{1, 0, 0}, FG, ONCE, AFRESH, HOLDS}}},
		{"a continue with no stop after reports in place since one afresh", true,
		 {{{1, 1, 0}, FG, ONCE, AFRESH, HOLDS}, {{0, 0, 0}, FG, ONCE, INPLACE, HOLDS},
		  {{1, 0, 0}, FG, ONCE, AFRESH, HOLDS}}},
		{"two continues (su, runuser after fg): the second draws in place", true,
		 {{{1, 1, 0}, FG, ONCE, AFRESH, HOLDS}, {{1, 0, 0}, FG, ONCE, INPLACE, HOLDS}}},
		{"two continues before one frame: afresh", true,
		 {{{2, 1, 0}, FG, ONCE, AFRESH, HOLDS}, {{0, 0, 0}, FG, ONCE, INPLACE, HOLDS}}},
		{"a stop between continues: each starts afresh", true,
		 {{{1, 1, 0}, FG, ONCE, AFRESH, HOLDS}, {{1, 1, 0}, FG, ONCE, AFRESH, HOLDS},
		  {{1, 1, 0}, FG, ONCE, AFRESH, HOLDS}}},
		{"a continue while a frame is built: built again, afresh", true,
		 {{{0, 0, 0}, FG, ONCE, INPLACE, HOLDS}, {{1, 1, 0}, FG, AGAIN, AFRESH, HOLDS},
		  {{0, 0, 0}, FG, ONCE, INPLACE, HOLDS}}},
		{"a continue kept across a rebuilt frame, and runuser's second", true,
		 {{{1, 1, 0}, FG, ONCE, AFRESH, HOLDS}, {{0, 0, 1}, FG, AGAIN, AFRESH, HOLDS},
		  {{1, 0, 0}, FG, ONCE, INPLACE, HOLDS}}},
		{"a frame built again in the background stays afresh back in front", true,
		 {{{0, 0, 0}, BG, ONCE, AFRESH, LAST}, {{0, 0, 1}, FG, AGAIN, AFRESH, HOLDS},
		  {{0, 0, 0}, FG, ONCE, INPLACE, HOLDS}}},
		{"background then foreground", true,
		 {{{0, 0, 0}, FG, ONCE, INPLACE, HOLDS}, {{0, 0, 0}, BG, ONCE, AFRESH, LAST},
		  {{0, 0, 0}, BG, ONCE, AFRESH, LAST}, {{0, 0, 0}, FG, ONCE, AFRESH, HOLDS},
		  {{0, 0, 0}, FG, ONCE, INPLACE, HOLDS}}},
		{"^Z in the background, then fg: afresh", true,
		 {{{0, 0, 0}, BG, ONCE, AFRESH, LAST}, {{1, 1, 0}, FG, ONCE, AFRESH, HOLDS}}},
		{"into a pipe: the background plays no part", false,
		 {{{0, 0, 0}, BG, ONCE, INPLACE, HOLDS}, {{0, 0, 0}, BG, ONCE, INPLACE, HOLDS}}},
		{"into a pipe: a continue leaves out the cursor-up, its second keeps it", false,
		 {{{0, 0, 0}, FG, ONCE, INPLACE, HOLDS}, {{1, 1, 0}, FG, ONCE, AFRESH, HOLDS},
		  {{1, 0, 0}, FG, ONCE, INPLACE, HOLDS}, {{0, 0, 0}, FG, ONCE, INPLACE, HOLDS}}},
		{"into a pipe: each stop and continue leaves it out", false,
		 {{{1, 1, 0}, FG, ONCE, AFRESH, HOLDS}, {{1, 1, 0}, FG, ONCE, AFRESH, HOLDS}}},
		{"into a pipe: kill -STOP, then two kill -CONT", false,
		 {{{0, 0, 0}, FG, ONCE, INPLACE, HOLDS}, {{1, 0, 0}, FG, ONCE, AFRESH, HOLDS},
		  {{1, 0, 0}, FG, ONCE, INPLACE, HOLDS}}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		signalsseen now = {0, 0, 0, 0};
		runstate st = startrun(now);
		drawchoice prev = {false, false};
		for (size_t i = 0; i < c.frames.size(); i++) {
			const framestep &f = c.frames[i];
			SCOPED_TRACE(testing::Message() << "frame " << i + 1);
			now.continues += f.before.continues;
			now.stops += f.before.stops;
			now.resizes += f.before.resizes;
			const drawchoice got = choosedraw(&st, now, c.onterminal, f.foreground,
							  f.rebuilt && prev.afresh, false);
			EXPECT_EQ(got.afresh, f.afresh);
			EXPECT_EQ(got.last, f.last);
			prev = got;
			const bool rebuiltnext = i + 1 < c.frames.size() && c.frames[i + 1].rebuilt;
			if (!rebuiltnext)
				framedone(&st, !got.last);
		}
	}
}

TEST(Rules, TheLastFrameOfARunKeepsItsNewline)
{
	for (bool onterminal : {false, true}) {
		runstate st = startrun({0, 0, 0, 0});
		EXPECT_TRUE(choosedraw(&st, {0, 0, 0, 0}, onterminal, true, false, true).last);
	}
}

// A write of a frame (or of the newline given back, frame false), with
// done bytes out: the cells "writing, none out" and "writing, part out",
// and "ending on a failure".
TEST(Rules, EachStepOfAWrite)
{
	const signalsseen built = {3, 1, 5, 0};
	const bool FRAME = true, NEWLINE = false, BLOCKED = true, WENT = false;
	const struct {
		const char *name;
		signalsseen now;
		bool frame;
		size_t done;
		bool blocked;
		writestepresult want;
	} cases[] = {
		{"nothing came", {3, 1, 5, 0}, FRAME, 0, WENT, WRITEON},
		{"a stop alone", {3, 2, 5, 0}, FRAME, 0, WENT, WRITEON},
		{"a continue, none out", {4, 2, 5, 0}, FRAME, 0, WENT, STALE},
		{"a resize, none out", {3, 1, 6, 0}, FRAME, 0, WENT, STALE},
		{"a continue, part out: finished", {4, 2, 5, 0}, FRAME, 10, WENT, WRITEON},
		{"a resize, part out: finished", {3, 1, 6, 0}, FRAME, 1, WENT, WRITEON},
		{"the terminal took nothing (^S): none out", {3, 1, 5, 0}, FRAME, 0, BLOCKED, STALE},
		{"the terminal took nothing: part out", {3, 1, 5, 0}, FRAME, 7, BLOCKED, WRITEON},
		{"an ending signal, none out", {3, 1, 5, 2}, FRAME, 0, WENT, ENDSIGNAL},
		{"an ending signal, part out", {3, 1, 5, 15}, FRAME, 4, BLOCKED, ENDSIGNAL},
		{"an ending signal and a continue", {4, 2, 6, 1}, FRAME, 0, BLOCKED, ENDSIGNAL},
		{"after a failure: a continue", {4, 2, 5, 0}, NEWLINE, 0, WENT, WRITEON},
		{"after a failure: a resize", {3, 1, 6, 0}, NEWLINE, 0, BLOCKED, WRITEON},
		{"after a failure: an ending signal", {3, 1, 5, 15}, NEWLINE, 0, WENT, ENDSIGNAL},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		EXPECT_EQ(writestep(c.now, built, c.frame, c.done, c.blocked), c.want);
	}
}

// The look at what came and the wait for the terminal: anything the wait
// would end for, come between the two, stops it from starting.
TEST(Rules, AWaitForTheTerminalStartsOnlyIfNothingCame)
{
	const signalsseen seen = {3, 1, 5, 0};
	const struct {
		signalsseen now;
		bool waits;
	} cases[] = {
		{{3, 1, 5, 0}, true},  {{3, 2, 5, 0}, true},  {{4, 1, 5, 0}, false},
		{{3, 1, 6, 0}, false}, {{3, 1, 5, 2}, false},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(testing::Message() << c.now.continues << " " << c.now.resizes << " "
						<< c.now.endsig);
		EXPECT_EQ(waits(seen, c.now), c.waits);
	}
}

// Footnotes (1) and (2): what an ending signal gives back, and only where
// that cannot block.
TEST(Rules, TheNewlineGivenBackAsTheRunEnds)
{
	const struct {
		bool foreground, takesbytes, may;
	} may[] = {
		{true, true, true}, {true, false, false}, {false, true, false}, {false, false, false},
	};
	for (const auto &c : may)
		EXPECT_EQ(maygiveback(c.foreground, c.takesbytes), c.may)
			<< c.foreground << " " << c.takesbytes;

	const bool HELD = true, BEGUN = true, WHOLE = true, FRAMEHOLDS = true;
	const struct {
		const char *name;
		bool heldonscreen, begun, whole, frameholds, gives;
	} cases[] = {
		{"between reports, the one on screen holds it", HELD, !BEGUN, !WHOLE, !FRAMEHOLDS, true},
		{"a frame being built: the one on screen's, held", HELD, !BEGUN, !WHOLE, FRAMEHOLDS, true},
		{"a frame being built: the one on screen ended with it (background)", !HELD, !BEGUN,
		 !WHOLE, FRAMEHOLDS, false},
		{"a frame finished: its own", !HELD, BEGUN, WHOLE, FRAMEHOLDS, true},
		{"a frame finished that ends with its newline", HELD, BEGUN, WHOLE, !FRAMEHOLDS, false},
		{"a frame not finished: no newline", HELD, BEGUN, !WHOLE, FRAMEHOLDS, false},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		runstate st = startrun({0, 0, 0, 0});
		framedone(&st, c.heldonscreen);
		EXPECT_EQ(givesback(st, c.begun, c.whole, c.frameholds), c.gives);
	}
}

// What comes after the report, whose last row holds its newline: bash and
// zsh start the job line of a stop on a line of their own, dash and mksh do
// not; all four end the line after a ^C that ended their job, but make, a
// script's trap or a Python traceback do not; none does before
// "Terminated" or "Hangup".  So the newline goes back for all but a ^C to a
// shell's job.
TEST(Rules, TheNewlineAsTheRunLeavesTheTerminal)
{
	const bool TERMINAL = true, PROCESS = false, SHELLSJOB = true;
	const struct {
		const char *name;
		int sig;
		bool byterminal;
		leaving how;
		bool shellsjob, newline;
	} cases[] = {
		{"^C to a shell's job", SIGINT, TERMINAL, INTERRUPTED, SHELLSJOB, false},
		{"^C under make or a script", SIGINT, TERMINAL, INTERRUPTED, !SHELLSJOB, true},
		{"kill -INT", SIGINT, PROCESS, ENDED, SHELLSJOB, true},
		{"kill -TERM", SIGTERM, PROCESS, ENDED, SHELLSJOB, true},
		{"a hang-up", SIGHUP, TERMINAL, ENDED, SHELLSJOB, true},
		{"kill -HUP", SIGHUP, PROCESS, ENDED, SHELLSJOB, true},
		{"^\\", SIGQUIT, TERMINAL, ENDED, SHELLSJOB, true},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		const leaving how = leavingby(c.sig, c.byterminal);
		EXPECT_EQ(how, c.how);
		EXPECT_EQ(newlinefor(how, c.shellsjob), c.newline);
	}
	for (const bool shellsjob : {true, false})
		EXPECT_TRUE(newlinefor(STOPPED, shellsjob)) << "dash and mksh glue their job line to the report";
}

TEST(Rules, EndingSignalsActAtOnceButWhileAFrameGoesOut)
{
	EXPECT_TRUE(actsatonce(SAMPLING));
	EXPECT_FALSE(actsatonce(WRITING));
	EXPECT_TRUE(actsatonce(PAUSING));
	EXPECT_TRUE(actsatonce(AFTERFAILURE));
}

// Something that came during a pause, at a time from its start.
struct pauseevent {
	int64_t at;
	int continues, stops, resizes;
	bool copy;       // the report will be a copy: narrower than a row on screen
	int64_t end;     // when the pause ends then, from its start
};

// The cell "pausing": a pause of 1 s from T, cut by continues and resizes.
TEST(Rules, ThePause)
{
	const int64_t T = 5000 * MS;
	const bool COPY = true, FITS = false;
	const struct {
		const char *name;
		int64_t us;
		std::vector<pauseevent> events;
	} cases[] = {
		{"nothing came", 1000000, {}},
		{"a resize early: settles 0.2 s", 1000000, {{100 * MS, 0, 0, 1, FITS, 300 * MS}}},
		{"two continues: the second settles again", 1000000,
		 {{100 * MS, 1, 1, 0, FITS, 300 * MS}, {250 * MS, 1, 0, 0, FITS, 450 * MS}}},
		{"wider: never after due", 1000000, {{900 * MS, 0, 0, 1, FITS, 1000 * MS}}},
		{"narrower with rows that still fit: never after due", 1000000,
		 {{950 * MS, 0, 0, 1, FITS, 1000 * MS}}},
		{"narrower than a row: 0.5 s, past due", 1000000, {{900 * MS, 0, 0, 1, COPY, 1400 * MS}}},
		{"narrower told late: settles from when it is told", 1000000,
		 {{200 * MS, 0, 0, 1, FITS, 400 * MS}, {999 * MS, 0, 0, 1, COPY, 1499 * MS}}},
		{"narrower early, then wider: back to the short settling", 1000000,
		 {{100 * MS, 0, 0, 1, COPY, 600 * MS}, {300 * MS, 0, 0, 1, FITS, 500 * MS}}},
		{"due before settled", 1000000, {{850 * MS, 0, 0, 3, FITS, 1000 * MS}}},
		{"a stop alone does not move the pause", 1000000, {{100 * MS, 0, 1, 0, FITS, 1000 * MS}}},
		{"no pause: a copy still settles", 0, {{0, 0, 0, 1, COPY, 500 * MS}}},
		{"no pause: a resize does not stretch it", 0, {{0, 0, 0, 1, FITS, 0}}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		signalsseen now = {2, 1, 4, 0};
		pauseclock p = startpause(T, c.us, now);
		EXPECT_EQ(p.end, T + c.us * 1000);
		for (const auto &e : c.events) {
			SCOPED_TRACE(testing::Message() << "at " << e.at / MS << " ms");
			now.continues += e.continues;
			now.stops += e.stops;
			now.resizes += e.resizes;
			const bool moves = e.continues + e.resizes > 0;
			EXPECT_EQ(moved(p, now), moves);
			if (moves)
				settle(&p, now, T + e.at, e.copy);
			EXPECT_FALSE(moved(p, now));
			EXPECT_EQ(p.end - T, e.end);
		}
	}
}

// The waits of a pause: the first one always happens (what is blocked gets
// through), each is at most a piece, and one that times out after all that
// was left ends the pause.
TEST(Rules, TheWaitsOfAPause)
{
	const int64_t T = 7 * MS;
	const signalsseen none = {0, 0, 0, 0};
	pauseclock p = startpause(T, 1000000, none);
	EXPECT_EQ(nextwait(p, T, true), 1000 * MS);
	EXPECT_TRUE(pauseover(p, T, 1000 * MS));
	EXPECT_FALSE(pauseover(p, T + 1, 1000 * MS));  // an ending signal woke it
	EXPECT_EQ(nextwait(p, T + 400 * MS, false), 600 * MS);
	EXPECT_EQ(nextwait(p, T + 1000 * MS, false), -1);
	EXPECT_EQ(nextwait(p, T + 1200 * MS, false), -1);

	pauseclock zero = startpause(T, 0, none);
	EXPECT_EQ(nextwait(zero, T, true), 0);
	EXPECT_TRUE(pauseover(zero, T, 0));
	EXPECT_EQ(nextwait(zero, T, false), -1);

	// A pause too long for the clock ends at its end, in pieces.
	pauseclock longest = startpause(T, INT64_MAX, none);
	EXPECT_EQ(longest.due, INT64_MAX);
	EXPECT_EQ(nextwait(longest, T, true), PAUSEPIECENS);
	EXPECT_FALSE(pauseover(longest, T, PAUSEPIECENS));
	pauseclock late = startpause(INT64_MAX - 10, 1, none);
	EXPECT_EQ(late.due, INT64_MAX);
}

}  // namespace
