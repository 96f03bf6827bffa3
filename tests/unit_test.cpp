// SPDX-License-Identifier: ISC
// The bar builder, the derived figures and the command line, without the
// statistics library.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expected.h"
#include "frames.h"
#include "options.h"
#include "report.h"
#include "screen.h"

namespace {

constexpr uint64_t GiB = 1ULL << 30;

// Whether the counts are each at most BARLEN and add up to BARLEN.
bool marksfit(const barmarks *m)
{
	return m->numberofmarks <= BARLEN && m->numofmarkstwo <= BARLEN &&
	       m->remainnum <= BARLEN &&
	       m->numberofmarks + m->numofmarkstwo + m->remainnum == BARLEN;
}

std::string bar(double first, double second, int fill)
{
	char buf[BARSIZE];
	bargraph(buf, first, second, fill);
	return buf;
}

TEST(BarGraph, MarksFollowThePercentages)
{
	struct {
		double first, second;
		int fill;
		unsigned hashes, percents, dots;
	} cases[] = {
		{12.5, 37.5, 0, 4, 13, 18},   // 8 GiB, 1 GiB free, 3 GiB cache
		{100, 0, 0, 35, 0, 0},         // all swap free
		{0, 0, 0, 0, 0, 35},           // no swap at all
		{60, 0, 1, 21, 14, 0},         // total bar, 60 % available
		{25, 50, 0, 8, 17, 10},
		{99.9, 0, 0, 34, 0, 1},
		{99, 0, 1, 34, 1, 0},
		{100, 0, 1, 35, 0, 0},
		{0, 100, 0, 0, 35, 0},
		{2.8, 2.8, 0, 0, 0, 35},       // shares below one mark vanish
		{-0.5, 0, 0, 0, 0, 35},        // truncates to zero marks
		{102.8, 0, 0, 35, 0, 0},       // 35.98 marks still truncate to 35
		{50.28, 52.5, 0, 17, 18, 0},   // 17 + 18 marks fill the bar
		// Shares that do not fit are clamped, never refused.
		{NAN, 0, 0, 0, 0, 35},
		{INFINITY, 0, 0, 35, 0, 0},
		{-INFINITY, 0, 0, 0, 0, 35},
		{-3, 0, 0, 0, 0, 35},          // -1.05 marks
		{103, 0, 0, 35, 0, 0},         // free swap at 103 % of its total
		{103, 0, 1, 35, 0, 0},
		{1e300, 50, 0, 35, 0, 0},
		{NAN, 0, 1, 0, 35, 0},
		{-50, 0, 1, 0, 35, 0},
		{0, NAN, 0, 0, 0, 35},
		{0, -50, 0, 0, 0, 35},
		{0, 200, 0, 0, 35, 0},
		{10, INFINITY, 0, 3, 32, 0},
		{60, 60, 0, 21, 14, 0},        // 21 + 21 marks: the second is cut
		{200, 200, 0, 35, 0, 0},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(testing::Message() << c.first << " " << c.second << " " << c.fill);
		barmarks m = countmarks(c.first, c.second, c.fill);
		EXPECT_TRUE(marksfit(&m));
		std::string got = bar(c.first, c.second, c.fill);
		EXPECT_EQ(got, expectedbar(c.hashes, c.percents, c.dots));
		EXPECT_EQ(got.size(), 49u);
	}
}

// The bar builder's contract: counts that do not fit stop the program
// before they can overrun the bar, through the platform's assertion report,
// which names the failed check: its text is what the program prints then,
// so a count renamed in the check changes it, and this test says so.
TEST(BarGraphDeathTest, CountChecksRefuseCountsThatDoNotFit)
{
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	struct {
		barmarks marks;
		const char *check;
	} cases[] = {
		{{36, 0, 0}, "numberofmarks <= BARLEN"},
		{{0, 36, 0}, "numofmarkstwo <= BARLEN"},
		{{0, 0, 36}, "remainnum <= BARLEN"},
		{{21, 21, 0u - 7u}, "remainnum <= BARLEN"},  // 35 - 42, wrapped
		// Counts past 35 are refused whatever their sum: these add up to
		// 35 once the sum wraps.
		{{0u - 1u, 36, 0}, "numberofmarks <= BARLEN"},
		{{0, 0u - 1u, 36}, "numofmarkstwo <= BARLEN"},
		{{35, 1, 0u - 1u}, "remainnum <= BARLEN"},
		{{1, 1, 1}, "numberofmarks \\+ numofmarkstwo \\+ remainnum == BARLEN"},
		{{35, 0, 0}, nullptr},
		{{0, 35, 0}, nullptr},
		{{0, 0, 35}, nullptr},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(testing::Message() << c.marks.numberofmarks << " "
			     << c.marks.numofmarkstwo << " " << c.marks.remainnum);
		EXPECT_EQ(marksfit(&c.marks), c.check == nullptr);
		char buf[BARSIZE];
		if (c.check == nullptr) {
			drawbar(buf, &c.marks);
			EXPECT_EQ(strlen(buf), 49u);
		} else {
			EXPECT_DEATH(drawbar(buf, &c.marks),
				     std::string("Assertion `") + c.check + "' failed");
		}
	}
}

TEST(Figures, CacheIsTakenOutOfTheLibrarysFreeFigure)
{
	struct {
		bool holdscache;
		uint64_t libfree, cache, free;
	} cases[] = {
		{true, 4 * GiB, 3 * GiB, 1 * GiB},  // free counts the cache, as on Linux
		{true, 3 * GiB, 3 * GiB, 0},
		{true, 1 * GiB, 3 * GiB, 1 * GiB},  // it cannot: take it as it comes
		{true, UINT64_MAX, UINT64_MAX - 1, 1},
		{false, 4 * GiB, 3 * GiB, 4 * GiB},  // free and cache apart, as on AIX
		{false, 1 * GiB, 3 * GiB, 1 * GiB},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(testing::Message() << c.holdscache << " " << c.libfree << " " << c.cache);
		memsnapshot s;
		memset(&s, 0xff, sizeof s);
		takefigures(&s, c.holdscache, 8 * GiB, c.libfree, c.cache, 2 * GiB, GiB);
		EXPECT_EQ(s.free, c.free);
		EXPECT_EQ(s.cached, c.cache);
		EXPECT_EQ(s.total, 8 * GiB);
		EXPECT_EQ(s.shared, 0u);
		EXPECT_EQ(s.buffers, 0u);
		EXPECT_EQ(s.swaptotal, 2 * GiB);
		EXPECT_EQ(s.swapfree, GiB);
	}
}

TEST(Figures, DerivedSumsAndPercentages)
{
	memsnapshot s{8 * GiB, 1 * GiB, 0, 0, 3 * GiB, 2 * GiB, 2 * GiB};
	memfigures f;
	derivefigures(&s, &f);
	EXPECT_EQ(f.combinedtotal, 10 * GiB);
	EXPECT_EQ(f.combinedfree, 3 * GiB);
	EXPECT_EQ(f.combinedavail, 6 * GiB);
	EXPECT_DOUBLE_EQ(f.freepercent, 12.5);
	EXPECT_DOUBLE_EQ(f.cachepercent, 37.5);
	EXPECT_DOUBLE_EQ(f.swapfreepercent, 100);
	EXPECT_DOUBLE_EQ(f.availpercent, 60);

	s.swaptotal = s.swapfree = 0;
	derivefigures(&s, &f);
	EXPECT_EQ(f.swapfreepercent, 0.0);
	EXPECT_FALSE(std::signbit(f.swapfreepercent));

	s.total = 0;  // the bars clamp what cannot be a share
	derivefigures(&s, &f);
	EXPECT_FALSE(std::isfinite(f.freepercent));

	// Container figures: a wrapped free swap beside a swap total of 0.
	// The sums stop at the largest count instead of wrapping.
	memsnapshot w{8 * GiB, 1 * GiB, 0, 0, 3 * GiB, 0, UINT64_MAX - 200 * 1024};
	derivefigures(&w, &f);
	EXPECT_EQ(f.combinedtotal, 8 * GiB);
	EXPECT_EQ(f.combinedfree, UINT64_MAX);
	EXPECT_EQ(f.combinedavail, UINT64_MAX);
	EXPECT_EQ(f.swapfreepercent, 0.0);
	w = memsnapshot{UINT64_MAX, 0, 0, 0, 0, 1, 0};
	derivefigures(&w, &f);
	EXPECT_EQ(f.combinedtotal, UINT64_MAX);
}

TEST(Figures, AmountsInUnitsAreTruncatedAndNeverWrap)
{
	struct {
		uint64_t a, b, unit, sum;
	} cases[] = {
		{1023, 1, 1024, 1},
		{1023, 0, 1024, 0},
		{1536, 1535, 1024, 2},  // remainders short of a unit do not carry
		{1536, 1536, 1024, 3},  // remainders that make a unit carry it
		{UINT64_MAX, 0, 1, UINT64_MAX},
		{UINT64_MAX, 1, 1, UINT64_MAX},  // saturates
		{UINT64_MAX, UINT64_MAX, 1024, (UINT64_MAX / 1024) * 2 + 1},
		{UINT64_MAX, UINT64_MAX, UINT64_MAX, 2},
		{5, 5, 0, 10},  // no divisor counts as 1
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(testing::Message() << c.a << " + " << c.b << " / " << c.unit);
		EXPECT_EQ(suminunits(c.a, c.b, c.unit), c.sum);
		EXPECT_EQ(suminunits(c.b, c.a, c.unit), c.sum);
	}
	EXPECT_EQ(inunits(5, 0), 5u);  // no divisor counts as 1
	EXPECT_EQ(inunits(UINT64_MAX, 1024), UINT64_MAX / 1024);
	EXPECT_EQ(lessof(5, 7), 0u);
	EXPECT_EQ(lessof(7, 5), 2u);

	struct {
		double p;
		int whole;
	} percents[] = {{99.99, 99}, {-0.5, 0}, {-1.5, -1}, {NAN, 0},
			{1e300, INT32_MAX}, {-INFINITY, INT32_MIN}};
	for (const auto &c : percents)
		EXPECT_EQ(wholepercent(c.p), c.whole) << c.p;
}

// The rows from the first of a text's, drawn on a terminal as a last report
// is, to the row the cursor ends on; counted from a copy of the text's exact
// size, so that a read past its end stops the test under AddressSanitizer.
int reportrows(const char *text, size_t len, unsigned columns)
{
	std::unique_ptr<char[]> exact(new char[len]);
	memcpy(exact.get(), text, len);
	drawstate d;
	startframes(&d, true, 1);
	char frame[FRAMESIZE];
	EXPECT_GE(drawframe(&d, frame, sizeof frame, exact.get(), len, columns, 0, false, true), 0);
	return d.rows;
}

// The rows text takes on a terminal: printed widths, with escape sequences
// taking no column and tabs going to the next multiple of 8 of their line.
TEST(Frames, RowsOfWrappedLines)
{
	const std::string w80(80, 'x'), w81(81, 'x'), w161(161, 'x');
	const std::string red = "\033[1;31m";
	struct {
		const char *name;
		std::string text;
		unsigned columns;
		int rows;
	} cases[] = {
		{"two short lines", "ab\ncd\n", 80, 2},
		{"exactly the width", w80 + "\n", 80, 1},
		{"one column over", w81 + "\n", 80, 2},
		{"three rows", w161 + "\n", 80, 3},
		{"empty lines", "\n\n\n", 80, 3},
		{"sequences take no column", red + w80 + red + "\033[0m\n", 80, 1},
		{"any final byte ends a sequence", "\033[1@" + w80 + "\033[~\033[ q\033[?25l\n", 80, 1},
		{"a two-byte escape", "\0337" + w80 + "\0338\n", 80, 1},
		{"a tab to column 8", "a\tb\n", 9, 1},
		{"a tab past the width", "a\tb\n", 8, 2},
		{"a tab from column 8", "12345678\tb\n", 16, 2},
		{"a tab that fills the row", "1234567\t\n", 8, 1},
		// Tab stops count in the line, as the spaces that replace them.
		{"a tab in a wrapped row", std::string(53, 'x') + "\t" + std::string(17, 'x') + "\n", 37, 2},
		{"width 0 counts lines", w161 + "\n" + w81 + "\n", 0, 2},
		{"one column", "abc\n\n", 1, 4},
		{"an unfinished line", "ab\n" + w161, 80, 3},
		{"an unfinished line of the width", w80, 80, 0},
		{"nothing", "", 80, 0},
		{"a cut-off sequence", "ab\033[1;3", 1, 1},
		{"a cut-off escape", "ab\033", 1, 1},
	};
	for (const auto &c : cases)
		EXPECT_EQ(reportrows(c.text.data(), c.text.size(), c.columns), c.rows) << c.name;
}

// The same count, one character at a time, the way a terminal moves its
// cursor over the text with its tabs as spaces.
int rowsbyhand(const std::string &text, unsigned columns)
{
	int rows = 0, linerows = 1;
	unsigned x = 0, linecolumn = 0;
	bool pending = false;
	auto place = [&]() {
		linecolumn++;
		if (columns == 0)
			return;
		if (pending) {
			linerows++;
			pending = columns == 1;
			x = pending ? 0 : 1;
		} else if (x == columns - 1) {
			pending = true;
		} else {
			x++;
		}
	};
	for (size_t i = 0; i < text.size(); i++) {
		const char c = text[i];
		if (c == '\033') {
			if (i + 1 < text.size() && text[i + 1] == '[') {
				for (i += 2; i < text.size() && !(text[i] >= 0x40 && text[i] <= 0x7e); i++)
					;
			} else {
				i++;
			}
		} else if (c == '\n') {
			rows += linerows;
			linerows = 1;
			x = linecolumn = 0;
			pending = false;
		} else if (c == '\t') {
			do
				place();
			while (linecolumn % 8 != 0);
		} else if (static_cast<unsigned char>(c) >= ' ') {
			place();
		}
	}
	return rows + linerows - 1;
}

// Texts of every kind of piece, including escapes with other final bytes,
// two-byte escapes and sequences cut off at the end.
TEST(Frames, RowsMatchACharacterByCharacterCount)
{
	std::mt19937 rng(91);
	const std::string pieces[] = {"x", "xxxxxxx", std::string(40, 'y'), "\t", "\n",
				      "\033[1;31m", "\033[0m", "\0337", "\033[2@", "\033[~",
				      "\033[ q", "\033[?25h", "\033", "\033[", "\033[12;"};
	const size_t npieces = sizeof pieces / sizeof pieces[0];
	for (int i = 0; i < 20000; i++) {
		std::string text;
		for (int n = rng() % 12; n > 0; n--)
			text += pieces[rng() % npieces];
		const unsigned columns = rng() % 90;
		ASSERT_EQ(reportrows(text.data(), text.size(), columns), rowsbyhand(text, columns))
			<< columns << " " << testing::PrintToString(text);
	}
}

std::string frame(drawstate *d, const std::string &report, unsigned columns, bool afresh,
		  bool last, unsigned height = 0)
{
	char buf[FRAMESIZE];
	const int n = drawframe(d, buf, sizeof buf, report.data(), report.size(), columns, height,
				afresh, last);
	EXPECT_GE(n, 0);
	return n < 0 ? "" : std::string(buf, static_cast<size_t>(n));
}

const std::string EL = "\033[K", ED = "\033[J";

// Whether the next report will (or may) be a copy, at the sizes a pause
// sees after a report of rows 60 wide drawn at 100 x 30: the size told
// last, and one told between that the terminal has since left.
TEST(Frames, WhenTheNextReportBecomesACopy)
{
	const std::string report = std::string(60, 'x') + "\n" + std::string(20, 'y') + "\n";
	const struct {
		const char *name;
		unsigned betweenwidth, betweenheight;  // 0: none told between
		unsigned width, height;
		bool copy;
	} cases[] = {
		{"the same size", 0, 0, 100, 30, false},
		{"wider", 0, 0, 120, 30, false},
		{"taller", 0, 0, 100, 40, false},
		{"size unknown", 0, 0, 0, 0, false},
		{"narrower, the rows still fit", 0, 0, 90, 30, true},
		{"narrower than a row", 0, 0, 50, 30, true},
		{"shorter", 0, 0, 100, 20, true},
		{"shorter and back", 100, 20, 100, 30, true},
		{"narrower and back", 50, 30, 100, 30, false},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		drawstate d;
		startframes(&d, true, 2);
		frame(&d, report, 100, false, false, 30);
		if (c.betweenwidth != 0)
			becomescopy(&d, c.betweenwidth, c.betweenheight);
		EXPECT_EQ(becomescopy(&d, c.width, c.height), c.copy);
	}
}

// What goes out before and with each report.
TEST(Redraw, Frames)
{
	const std::string two = "a\tb\nc\n", three = "x\ny\nz\n";
	drawstate pipe;
	startframes(&pipe, false, 2);
	EXPECT_EQ(frame(&pipe, two, 80, false, false), two);
	EXPECT_EQ(frame(&pipe, two, 80, false, false), "\033[2A" + two);
	EXPECT_EQ(frame(&pipe, two, 80, true, false), two);  // continued
	EXPECT_EQ(frame(&pipe, two, 0, false, true), "\033[2A" + two);

	drawstate tty;
	startframes(&tty, true, 3);
	EXPECT_EQ(frame(&tty, two, 80, false, false), "a       b\nc");
	EXPECT_EQ(frame(&tty, three, 80, false, false), "\r\033[1Ax" + EL + "\ny" + EL + "\nz" + ED);
	// The count is of the report on screen: three rows, wherever the next
	// one ends.
	EXPECT_EQ(frame(&tty, two, 80, false, false), "\r\033[2Aa       b" + EL + "\nc" + ED);
	// Its rows fit 10 columns too: in place, the long line broken into
	// rows of that width.
	EXPECT_EQ(frame(&tty, std::string(25, 'w') + "\n", 10, false, false),
		  "\r\033[1A" + std::string(10, 'w') + "\n" + std::string(10, 'w') + "\nwwwww" + ED);
	EXPECT_EQ(frame(&tty, two, 10, false, false), "\r\033[2Aa       b" + EL + "\nc" + ED);
	EXPECT_EQ(frame(&tty, three, 10, true, false), "\nx" + EL + "\ny" + EL + "\nz" + ED);
	EXPECT_EQ(frame(&tty, three, 10, false, true),
		  "\r\033[2Ax" + EL + "\ny" + EL + "\nz" + EL + "\n" + ED);
	drawstate once;
	startframes(&once, true, 2);
	EXPECT_EQ(frame(&once, two, 80, false, true), "a       b\nc\n");
}

// A row that fills the width leaves the cursor on its last character with
// the wrap pending, where an erase would take that character: it erases no
// tail, and the last row erases below just before its last character.  On
// one column every character fills a row.
TEST(Redraw, LinesThatFillTheirRows)
{
	drawstate d;
	startframes(&d, true, 2);
	EXPECT_EQ(frame(&d, "abcd\ncdef\n", 4, false, false), "abcd\ncdef");
	EXPECT_EQ(frame(&d, "abcd\ncdef\n", 4, false, false), "\r\033[1Aabcd\ncde" + ED + "f");
	EXPECT_EQ(frame(&d, "abcd\ncde\033[0m\t\n", 4, false, false),
		  "\r\033[1Aabcd\ncde\033[0m \n   " + ED + " ");
	drawstate one;
	startframes(&one, true, 2);
	EXPECT_EQ(frame(&one, "ab\ncd\n", 1, false, false), "a\nb\nc\nd");
	EXPECT_EQ(frame(&one, "ab\ncd\n", 1, false, false), "\r\033[3Aa\nb\nc\n" + ED + "d");
}

// A resized terminal.  The rows of the report on screen end in newlines, so
// a terminal that grows wider leaves them as they are: the redraw goes up
// over them, in place.  One that grows narrower than a row may have
// re-wrapped or cut it: the report starts afresh below.
TEST(Redraw, Resizes)
{
	const std::string x60(60, 'x'), report = x60 + "\nab\n";
	const std::string lines = x60 + EL + "\nab" + ED;
	const std::string at50 = std::string(50, 'x') + "\n" + std::string(10, 'x') + EL + "\nab" + ED;
	const std::string at40 = std::string(40, 'x') + "\n" + std::string(20, 'x') + EL + "\nab" + ED;
	struct {
		unsigned columns, height;
		std::string want;
	} steps[] = {
		{80, 24, x60 + "\nab"},
		{80, 30, "\r\033[1A" + lines},   // taller
		{100, 30, "\r\033[1A" + lines},  // wider
		{50, 30, "\n" + at50},             // narrower than the long line
		{40, 30, "\n" + at40},             // and than its first row
		{45, 30, "\r\033[2A" + std::string(45, 'x') + "\n" + std::string(15, 'x') + EL + "\nab" + ED},
		{120, 30, "\r\033[2A" + lines},  // wider: over the rows drawn at 45
		{0, 0, "\r\033[1A" + lines},      // the width unknown: a row a line
		{60, 30, "\r\033[1A" + x60 + "\nab" + ED},  // a row that fills the width
	};
	drawstate d;
	startframes(&d, true, 2);
	for (const auto &s : steps)
		EXPECT_EQ(frame(&d, report, s.columns, false, false, s.height), s.want) << s.columns;

	// The long line last, where the cursor waits.
	const std::string last = "ab\n" + x60 + "\n";
	const struct {
		unsigned columns;
		std::string want;
	} lastfirst[] = {
		{80, "ab\n" + x60},
		{40, "\nab" + EL + "\n" + std::string(40, 'x') + "\n" + std::string(20, 'x') + ED},
		{100, "\r\033[2Aab" + EL + "\n" + x60 + ED},
		{120, "\r\033[1Aab" + EL + "\n" + x60 + ED},
	};
	startframes(&d, true, 2);
	for (const auto &s : lastfirst)
		EXPECT_EQ(frame(&d, last, s.columns, false, false, 24), s.want) << s.columns;
}

// A report taller than the terminal: the redraw goes up over the report on
// screen, no further than the top row, and leaves out the new report's first
// rows (keeping their colours), so that what it draws fits the terminal.
TEST(Redraw, ReportsTallerThanTheTerminal)
{
	const std::string red = "\033[31m", tall = red + "1\n2\n3\n4\n";
	struct {
		const char *name;
		unsigned height;
		std::string first, report, want;
	} cases[] = {
		{"two rows", 2, tall, tall, "\r\033[1A" + red + "3" + EL + "\n4" + ED},
		{"one row", 1, tall, tall, "\r" + red + "4" + ED},
		{"as tall as the report", 4, tall, tall,
		 "\r\033[3A" + red + "1" + EL + "\n2" + EL + "\n3" + EL + "\n4" + ED},
		{"a wrapped line cut", 2, tall, "abcdefghij\nk\n", "\r\033[1Aghij" + EL + "\nk" + ED},
		{"the last row filled", 2, tall, "1\n2\n3\nabcdef\n", "\r\033[1A3" + EL + "\nabcde" + ED + "f"},
		// A report that grows past the terminal's height is cut the
		// same way, and drawn from the first row of the one on screen:
		// never above it, though the terminal scrolls.
		{"growing", 3, "1\n2\n", tall, "\r\033[1A" + red + "2" + EL + "\n3" + EL + "\n4" + ED},
		{"growing to the height", 3, "1\n2\n", "1\n2\n3\n", "\r\033[1A1" + EL + "\n2" + EL + "\n3" + ED},
	};
	for (const auto &c : cases) {
		drawstate d;
		startframes(&d, true, 4);
		frame(&d, c.first, 6, false, false, c.height);
		EXPECT_EQ(frame(&d, c.report, 6, false, false, c.height), c.want) << c.name;
	}
}

// A frame that does not fit is refused; one byte more than its length fits.
TEST(Redraw, AFrameThatDoesNotFitIsRefused)
{
	const std::string report = "a\tb\nc\n";
	for (bool terminal : {false, true}) {
		drawstate d;
		startframes(&d, terminal, 2);
		const std::string first = frame(&d, report, 80, false, false);
		const std::string next = frame(&d, report, 80, false, false);
		for (size_t size : {size_t{0}, size_t{1}, next.size(), next.size() + 1}) {
			drawstate s;
			startframes(&s, terminal, 2);
			frame(&s, report, 80, false, false);
			char buf[FRAMESIZE];
			const int n = drawframe(&s, buf, size, report.data(), report.size(), 80, 0, false, false);
			EXPECT_EQ(n, size > next.size() ? static_cast<int>(next.size()) : -1)
				<< terminal << " " << size;
			if (n >= 0) {
				EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), next);
			}
		}
		EXPECT_FALSE(first.empty());
	}
}

// Pieces of random reports, and what a terminal's line discipline makes of
// a frame's line ends.
const std::string pieces[] = {"x", "yyyyyyy", std::string(30, 'z'), "\t", "\n",
			      "\033[1;31m", "\033[0m", "12345"};
const size_t npieces = sizeof pieces / sizeof pieces[0];

std::string onterminal(const std::string &bytes)
{
	std::string out;
	for (char c : bytes)
		out += c == '\n' ? std::string("\r\n") : std::string(1, c);
	return out;
}

// Frames built for one width and drawn by a terminal already at another, as
// tmux draws them while an edge is dragged (it tells the new size late) and
// a terminal at the far end of a slow link does: the lines above the report
// stay, whatever the widths, and once built and drawn at one width the
// report is in place.
TEST(Redraw, FramesDrawnAtAWidthNotYetReported)
{
	const std::string line(68, '#'), report = "Physical  : \033[1;32m" + line + "\033[0m\n" +
						   "Swap      : \033[1;32m" + line + "\033[0m\n" +
						   "Total     : " + std::string(58, '%') + "\n";
	struct step {
		unsigned built, drawn;
	};
	struct {
		const char *name;
		std::vector<step> steps;
	} cases[] = {
		{"two resizes at once", {{50, 50}, {55, 100}, {55, 100}, {100, 100}, {100, 100}}},
		{"a drag, column by column", {{50, 50}, {50, 51}, {51, 52}, {52, 53}, {53, 54}, {54, 60},
					     {60, 70}, {70, 85}, {85, 85}}},
		{"a slow link, one resize", {{55, 55}, {55, 100}, {55, 100}, {100, 100}}},
		{"narrower, told late", {{100, 100}, {100, 55}, {55, 55}, {55, 55}}},
		{"narrower and wider at once", {{100, 100}, {100, 40}, {40, 120}, {120, 120}}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		emulator e(40, static_cast<int>(c.steps.front().drawn));
		std::string shell;
		for (int i = 1; i <= 9; i++)
			shell += "line" + std::to_string(i) + "\r\n";
		e.feed(shell);
		drawstate d;
		startframes(&d, true, 3);
		int width = static_cast<int>(c.steps.front().drawn);
		for (const auto &st : c.steps) {
			if (static_cast<int>(st.drawn) != width) {
				width = static_cast<int>(st.drawn);
				e.resize(40, width);
			}
			e.feed(onterminal(frame(&d, report, st.built, false, false, 40)));
			const screenshot got = e.shot();
			for (int i = 0; i < 9; i++)
				ASSERT_EQ(got.rows[static_cast<size_t>(i)], "line" + std::to_string(i + 1))
					<< st.built << " drawn at " << st.drawn << "\n" << show(got);
		}
		// Built and drawn at the last width twice: the second in place.
		const std::string again = frame(&d, report, c.steps.back().built, false, false, 40);
		EXPECT_EQ(again.substr(0, 2), "\r\033") << c.steps.back().built;
	}
}

// A terminal made shorter.  Most keep the cursor's row, scrolling the rows
// above into their history (xterm, VTE, tmux, screen; libvterm here); mosh
// and rxvt-unicode keep their top rows and move the cursor up into them,
// onto the shell's lines.  Nothing tells the two apart from inside, so the
// next report starts afresh below: the shell's lines that the terminal kept
// stay whole, in order, in the history and on screen, in both, at the cost
// of one copy per shrink where the cursor's row is kept; and the report
// after that is in place.
TEST(Redraw, ATerminalMadeShorter)
{
	// The shell's lines in the history and on screen, and the reports.
	const auto lines = [](const emulator &e, int *totals) {
		std::vector<std::string> all = e.pushedrows(), shell;
		const screenshot got = e.shot();
		all.insert(all.end(), got.rows.begin(), got.rows.end());
		*totals = 0;
		for (const auto &row : all) {
			if (row.rfind("line", 0) == 0)
				shell.push_back(row);
			*totals += row.rfind("Total", 0) == 0;
		}
		return shell;
	};
	const std::string report = "Physical  : [####....] 50%\nSwap      : [########] 100%\nTotal     : (1=2+3)\n";
	struct size {
		int height;
		bool keepstop;  // shrunk as mosh and rxvt-unicode do
		bool drawn;     // a report follows; otherwise the size is told
				// in the pause, and changes again before one
	};
	struct {
		const char *name;
		int lines;
		std::vector<size> sizes;  // after the first report
		int copies;
	} cases[] = {
		{"mosh, 30 rows to 5", 10, {{5, true, true}, {5, true, true}}, 2},
		{"rxvt-unicode, 30 rows to 6", 15, {{6, true, true}, {6, true, true}}, 2},
		{"shorter and back between two reports", 10, {{5, true, false}, {30, true, true}}, 2},
		{"shorter by a row, the cursor on the last", 27, {{29, true, true}}, 2},
		{"taller, then shorter than at first", 10, {{40, true, true}, {8, true, true}}, 2},
		{"a terminal that keeps the cursor's row, 30 to 5", 10, {{5, false, true}, {5, false, true}}, 2},
		{"taller: in place", 27, {{40, false, true}, {40, false, true}}, 1},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		emulator e(30, 100);
		std::string shell;
		for (int i = 1; i <= c.lines; i++)
			shell += "line" + std::to_string(i) + "\r\n";
		e.feed(shell);
		drawstate d;
		startframes(&d, true, 3);
		e.feed(onterminal(frame(&d, report, 100, false, false, 30)));
		for (const auto &s : c.sizes) {
			if (s.keepstop)
				e.keeptop(s.height);
			else
				e.resize(s.height, 100);
			if (!s.drawn) {
				noteheight(&d, static_cast<unsigned>(s.height));
				continue;
			}
			int totals;
			const std::vector<std::string> kept = lines(e, &totals);
			e.feed(onterminal(frame(&d, report, 100, false, false, static_cast<unsigned>(s.height))));
			const screenshot got = e.shot();
			ASSERT_EQ(lines(e, &totals), kept) << show(got);
			ASSERT_LE(totals, c.copies) << show(got);
			ASSERT_EQ(got.rows[static_cast<size_t>(got.cursorrow)], "Total     : (1=2+3)") << show(got);
		}
		EXPECT_EQ(frame(&d, report, 100, false, false, static_cast<unsigned>(c.sizes.back().height))
				  .substr(0, 2),
			  "\r\033");
	}
}

// Random reports drawn one after another into a real terminal emulator:
// after each, the screen shows the report as a fresh draw on a blank screen
// of the same width does, and the line above it stays.
TEST(Redraw, EachFrameLeavesAFreshReportOnScreen)
{
	std::mt19937 rng(1210);
	for (int run = 0; run < 300; run++) {
		const int columns = 1 + static_cast<int>(rng() % 90);
		const int rows = 400;
		emulator screen(rows, columns);
		screen.feed("keep\r\n");
		drawstate d;
		startframes(&d, true, 3);
		for (int report = 0; report < 6; report++) {
			std::string text;
			for (int line = 0; line < 3; line++) {
				for (int n = rng() % 6; n > 0; n--)
					text += pieces[rng() % npieces];
				text += "\n";
			}
			// Erasing below leaves the colours of the report's end.
			text += "\033[0m";
			const std::string out = frame(&d, text, static_cast<unsigned>(columns), false, false);
			screen.feed(onterminal(out));
			const screenshot got = screen.shot();
			char fresh[FRAMESIZE];
			drawstate f;
			startframes(&f, true, 3);
			const int n = drawframe(&f, fresh, sizeof fresh, text.data(), text.size(),
						static_cast<unsigned>(columns), 0, false, false);
			ASSERT_GE(n, 0);
			const screenshot want =
				render("keep\r\n" + onterminal(std::string(fresh, static_cast<size_t>(n))), rows, columns);
			ASSERT_EQ(got.rows, want.rows) << columns << " " << testing::PrintToString(text);
			ASSERT_EQ(got.cursorrow, want.cursorrow);
			ASSERT_EQ(got.cursorcol, want.cursorcol);
		}
	}
}

// The same in panes of a few rows, shorter than many of the reports: after
// each frame the rows from the report's first on screen to the cursor's are
// the last rows of a fresh draw, nothing is left below them, and where the
// last report filled the pane, nothing more went into its history.
TEST(Redraw, ShortPanesShowTheReportsLastRows)
{
	std::mt19937 rng(1211);
	for (int run = 0; run < 300; run++) {
		// From 2 columns: libvterm loses a row when a line feed scrolls
		// a screen of one column ("a\r\nb\r\nc\r\nd" on 3 rows of 1
		// column shows c, a blank row and d).
		const int columns = 2 + static_cast<int>(rng() % 59);
		const int rows = 1 + static_cast<int>(rng() % 8);
		emulator screen(rows, columns);
		screen.feed("keep\r\n");
		drawstate d;
		startframes(&d, true, 3);
		int before = 0;  // rows the report on screen takes
		for (int report = 0; report < 6; report++) {
			std::string text;
			for (int line = 0; line < 3; line++) {
				for (int n = rng() % 5; n > 0; n--)
					text += pieces[rng() % npieces];
				text += "\n";
			}
			text += "\033[0m";
			const int pushed = screen.pushed();
			screen.feed(onterminal(frame(&d, text, static_cast<unsigned>(columns), false,
						     false, static_cast<unsigned>(rows))));
			const screenshot got = screen.shot();
			drawstate f;
			startframes(&f, true, 3);
			const screenshot want = render(onterminal(frame(&f, text, static_cast<unsigned>(columns),
									false, false)),
						       400, columns);
			const int shown = std::min(rows, want.cursorrow + 1);
			const std::string what = std::to_string(columns) + "x" + std::to_string(rows) + " " +
						 testing::PrintToString(text);
			ASSERT_GE(got.cursorrow + 1, shown) << what;
			for (int r = 0; r < shown; r++)
				ASSERT_EQ(got.rows[static_cast<size_t>(got.cursorrow - r)],
					  want.rows[static_cast<size_t>(want.cursorrow - r)])
					<< what << "\n" << show(got);
			for (int r = got.cursorrow + 1; r < rows; r++)
				ASSERT_EQ(got.rows[static_cast<size_t>(r)], "") << what << "\n" << show(got);
			ASSERT_EQ(got.cursorcol, want.cursorcol) << what;
			if (report > 0 && before >= rows) {
				ASSERT_EQ(screen.pushed(), pushed) << what << "\n" << show(got);
			}
			before = want.cursorrow + 1;
		}
	}
}

TEST(CommandLine, PauseLength)
{
	struct {
		double delay;
		int64_t us;
	} cases[] = {
		{0, 0},
		{0.0000001, 0},          // below a microsecond
		{0.5, 500000},
		{1, 1000000},
		{4294.967296, 4294967296},  // past a 32-bit count
		{9e12, 9000000000000000000},
		// 2^63 microseconds saturates; the delay just below it does not.
		{9223372036854.775808, INT64_MAX},
		{std::nextafter(9223372036854.775808, 0.0), 9223372036854773760},
		{9.3e12, INT64_MAX},
		{1e300, INT64_MAX},
	};
	for (const auto &c : cases)
		EXPECT_EQ(pauselength(c.delay), c.us) << c.delay;
}

struct scancase {
	std::vector<const char *> args;
	scanresult result;
	uint64_t unitdivisor;
	bool classic, total;
	int linecount;
	double delay;
};

// A scan that ends in the middle of grouped flags leaves nothing behind for
// the next one.
TEST(CommandLine, AScanStartsClean)
{
	char name[] = "memglow", vm[] = "-Vm", o[] = "-o", bm[] = "-bt";
	char *first[] = {name, vm, nullptr};
	char *second[] = {name, o, nullptr};
	char *third[] = {name, bm, nullptr};
	memsettings s;
	const char *bad = nullptr;
	ASSERT_EQ(scanoptions(2, first, &s, &bad), SCAN_VERSION);
	ASSERT_EQ(scanoptions(2, second, &s, &bad), SCAN_REPORT);
	EXPECT_EQ(s.unitdivisor, 1024u);
	EXPECT_TRUE(s.classiclayout);
	EXPECT_FALSE(s.showtotal);
	ASSERT_EQ(scanoptions(2, third, &s, &bad), SCAN_REPORT);
	EXPECT_EQ(s.unitdivisor, 1u);
	EXPECT_FALSE(s.classiclayout);
	EXPECT_TRUE(s.showtotal);
}

TEST(CommandLine, OptionsAndTheirResults)
{
	const scancase cases[] = {
		{{}, SCAN_REPORT, 1024, false, false, 2, 0},
		{{"-b"}, SCAN_REPORT, 1, false, false, 2, 0},
		{{"-k", "-m"}, SCAN_REPORT, 1048576, false, false, 2, 0},
		{{"-m", "-k"}, SCAN_REPORT, 1024, false, false, 2, 0},
		{{"-mb"}, SCAN_REPORT, 1, false, false, 2, 0},
		{{"-t", "-t"}, SCAN_REPORT, 1024, false, true, 3, 0},
		{{"-o"}, SCAN_REPORT, 1024, true, false, 3, 0},
		{{"-o", "-t"}, SCAN_REPORT, 1024, true, true, 4, 0},
		{{"-s", "0.5"}, SCAN_REPORT, 1024, false, false, 2, 0.5},
		{{"-s0.5", "-s", "2"}, SCAN_REPORT, 1024, false, false, 2, 2},
		{{"-s", "abc"}, SCAN_REPORT, 1024, false, false, 2, 0},
		{{"-s", "3xyz"}, SCAN_REPORT, 1024, false, false, 2, 3},
		{{"-s", "-0"}, SCAN_REPORT, 1024, false, false, 2, 0},
		{{"-s", "-1", "-s", "1"}, SCAN_REPORT, 1024, false, false, 2, 1},
		{{"word", "-t"}, SCAN_REPORT, 1024, false, false, 2, 0},
		{{"-m", "--", "-t"}, SCAN_REPORT, 1048576, false, false, 2, 0},
		{{"-V", "-x"}, SCAN_VERSION, 0, false, false, 0, 0},
		{{"-x", "-V"}, SCAN_USAGE, 0, false, false, 0, 0},
		{{"-s"}, SCAN_USAGE, 0, false, false, 0, 0},
		{{"-s", "-1"}, SCAN_BADDELAY, 0, false, false, 0, 0},
		{{"-s", "nan"}, SCAN_BADDELAY, 0, false, false, 0, 0},
		{{"-s", "inf"}, SCAN_BADDELAY, 0, false, false, 0, 0},
		{{"-s", "1e999"}, SCAN_BADDELAY, 0, false, false, 0, 0},
		{{"-s", "-1", "-V"}, SCAN_VERSION, 0, false, false, 0, 0},
	};
	for (const auto &c : cases) {
		std::vector<char *> argv{const_cast<char *>("memglow")};
		std::string shown;
		for (const char *a : c.args) {
			argv.push_back(const_cast<char *>(a));
			shown += std::string(" ") + a;
		}
		SCOPED_TRACE(shown);
		argv.push_back(nullptr);
		memsettings s;
		const char *bad = nullptr;
		scanresult r = scanoptions(static_cast<int>(argv.size() - 1), argv.data(), &s, &bad);
		ASSERT_EQ(r, c.result);
		if (r == SCAN_BADDELAY) {
			EXPECT_STREQ(bad, c.args[1]);
		}
		if (r != SCAN_REPORT)
			continue;
		EXPECT_EQ(s.unitdivisor, c.unitdivisor);
		EXPECT_EQ(s.classiclayout, c.classic);
		EXPECT_EQ(s.showtotal, c.total);
		EXPECT_EQ(s.linecount, c.linecount);
		EXPECT_EQ(s.delay, c.delay);
		EXPECT_EQ(s.pauseus, pauselength(c.delay));
	}
}

}  // namespace
