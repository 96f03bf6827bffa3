// SPDX-License-Identifier: ISC
// The exact bytes of both layouts, the lines each layout's row counts, and
// the sums their Total lines state.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "expected.h"
#include "report.h"

namespace {

constexpr uint64_t KiB = 1024, MiB = 1048576, GiB = 1ULL << 30;

struct report {
	memsnapshot snap;
	memfigures fig;
	membars bars;
};

report make(uint64_t total, uint64_t free, uint64_t cached, uint64_t swaptotal,
	    uint64_t swapfree)
{
	report r;
	r.snap = memsnapshot{total, free, 0, 0, cached, swaptotal, swapfree};
	derivefigures(&r.snap, &r.fig);
	buildbars(&r.fig, &r.bars);
	return r;
}

// The report as the layout's row prints it.
std::string capture(const report &r, const memlayout &layout, uint64_t unit, bool total)
{
	char buf[REPORTSIZE];
	int len = layout.print(buf, sizeof buf, &r.snap, &r.fig, &r.bars, unit, total);
	EXPECT_GT(len, 0);
	if (len <= 0)
		return "";
	EXPECT_EQ(strlen(buf), static_cast<size_t>(len));
	return std::string(buf, static_cast<size_t>(len));
}

// The machine of the examples: 8 GiB with 1 GiB free and 3 GiB cache, 2 GiB
// of swap, all free.  Made inside each test, so that a fault in the bar
// builder fails the tests, not the start of the test program.
report example()
{
	return make(8 * GiB, 1 * GiB, 3 * GiB, 2 * GiB, 2 * GiB);
}

struct layoutcase {
	const char *name;
	report r;
	uint64_t unit;
	bool total;
	std::string want;
};

TEST(BarGraphLayout, Lines)
{
	const layoutcase cases[] = {
		{"8 GiB in KiB", example(), KiB, true,
		 "Physical  : " + framedbar(4, 13, 18) + "50\033[0;31m%\033[0m\t(4194304/8388608)\n"
		 "Swap      : " + framedbar(35, 0, 0) + "100\033[0;31m%\033[0m\t(2097152/2097152)\n"
		 "Total     : " + framedbar(21, 14, 0) + "\033[0m(10485760=6291456+4194304)\n"},
		{"8 GiB in MiB", example(), MiB, false,
		 "Physical  : " + framedbar(4, 13, 18) + "50\033[0;31m%\033[0m\t(4096/8192)\n"
		 "Swap      : " + framedbar(35, 0, 0) + "100\033[0;31m%\033[0m\t(2048/2048)\n"},
		{"no swap, in bytes", make(1000, 250, 500, 0, 0), 1, true,
		 "Physical  : " + framedbar(8, 17, 10) + "75\033[0;31m%\033[0m\t(750/1000)\n"
		 "Swap      : " + framedbar(0, 0, 35) + "0\033[0;31m%\033[0m\t(0/0)\n"
		 "Total     : " + framedbar(26, 9, 0) + "\033[0m(1000=750+250)\n"},
		// Percentages are truncated: two thirds print 66, not 67.
		{"two thirds", make(3000, 1000, 1000, 3000, 2000), 1, false,
		 "Physical  : " + framedbar(11, 11, 13) + "66\033[0;31m%\033[0m\t(2000/3000)\n"
		 "Swap      : " + framedbar(23, 0, 12) + "66\033[0;31m%\033[0m\t(2000/3000)\n"},
		// The total bar is drawn from the whole-number percentage: 2.9 %
		// available draws no mark, where the physical bar's 2.9 % draws one.
		{"2.9 % available", make(1000, 29, 0, 0, 0), 1, true,
		 "Physical  : " + framedbar(1, 0, 34) + "2\033[0;31m%\033[0m\t(29/1000)\n"
		 "Swap      : " + framedbar(0, 0, 35) + "0\033[0;31m%\033[0m\t(0/0)\n"
		 "Total     : " + framedbar(0, 35, 0) + "\033[0m(1000=29+971)\n"},
		// Exactly one mark's share of each bar draws that mark.
		{"a share of exactly one mark", make(35 * GiB, 1 * GiB, 1 * GiB, 35 * GiB, 1 * GiB), GiB, true,
		 "Physical  : " + framedbar(1, 1, 33) + "5\033[0;31m%\033[0m\t(2/35)\n"
		 "Swap      : " + framedbar(1, 0, 34) + "2\033[0;31m%\033[0m\t(1/35)\n"
		 "Total     : " + framedbar(1, 34, 0) + "\033[0m(70=3+67)\n"},
		// Amounts past 2^64 / 100 bytes still make whole percentages.
		{"2^62 bytes, all free", make(1ULL << 62, 1ULL << 62, 0, 1ULL << 62, 1ULL << 61), MiB, true,
		 "Physical  : " + framedbar(35, 0, 0) + "100\033[0;31m%\033[0m\t(4398046511104/4398046511104)\n"
		 "Swap      : " + framedbar(17, 0, 18) + "50\033[0;31m%\033[0m\t(2199023255552/4398046511104)\n"
		 "Total     : " + framedbar(26, 9, 0) + "\033[0m(8796093022208=6597069766656+2199023255552)\n"},
		// Free and cache past 2^64 bytes together: the Physical amount
		// stops at the largest count.
		{"free and cache past 2^64 bytes", make(8 * GiB, 1ULL << 63, 1ULL << 63, 0, 0), 1, false,
		 "Physical  : " + framedbar(35, 0, 0) + "2147483647\033[0;31m%\033[0m\t(18446744073709551615/8589934592)\n"
		 "Swap      : " + framedbar(0, 0, 35) + "0\033[0;31m%\033[0m\t(0/0)\n"},
		// Both parts truncate down; the used part takes the odd unit.
		{"odd bytes in MiB", make(3 * MiB - 1, MiB - 1, MiB - 1, MiB + 1, 1), MiB, true,
		 "Physical  : " + framedbar(11, 11, 13) + "66\033[0;31m%\033[0m\t(1/2)\n"
		 "Swap      : " + framedbar(0, 0, 35) + "0\033[0;31m%\033[0m\t(0/1)\n"
		 "Total     : " + framedbar(17, 18, 0) + "\033[0m(4=1+3)\n"},
	};
	for (const auto &c : cases)
		EXPECT_EQ(capture(c.r, layouts[BARGRAPHLAYOUT], c.unit, c.total), c.want) << c.name;
}

// A report that does not fit in the buffer is refused, never cut short in
// silence; one byte more than its length is enough.
TEST(Layouts, AReportThatDoesNotFitIsRefused)
{
	const report r = example();
	for (int row = 0; row < LAYOUTCOUNT; row++) {
		const memlayout &layout = layouts[row];
		const std::string whole = capture(r, layout, KiB, true);
		for (size_t size : {size_t{0}, size_t{10}, whole.size() - 20, whole.size(),
				    whole.size() + 1}) {
			char buf[REPORTSIZE];
			int len = layout.print(buf, size, &r.snap, &r.fig, &r.bars, KiB, true);
			EXPECT_EQ(len, size > whole.size() ? static_cast<int>(whole.size()) : -1)
				<< layout.name << " " << size;
			if (len >= 0) {
				EXPECT_EQ(std::string(buf), whole) << layout.name << " " << size;
			}
		}
	}
}

TEST(ClassicLayout, Rows)
{
	const std::string header =
		"             total       used       free     shared    buffers     cached\n";
	const layoutcase cases[] = {
		{"8 GiB in KiB", example(), KiB, true, header +
		 "Mem:       8388608    7340032    1048576          0          0    3145728\n"
		 "Swap:      2097152          0    2097152\n"
		 "Total:    10485760 = ( 7340032 (used) +  3145728 (free))\n"},
		{"no swap, in MiB", make(8 * GiB, 1 * GiB, 3 * GiB, 0, 0), MiB, false, header +
		 "Mem:          8192       7168       1024          0          0       3072\n"
		 "Swap:            0          0          0\n"},
		// Differences are taken before dividing; the Total row's used part
		// is what remains of its printed total.
		{"odd bytes in MiB", make(2 * MiB, 1, MiB - 1, MiB + 1, MiB), MiB, true, header +
		 "Mem:             2          1          0          0          0          0\n"
		 "Swap:            1          0          1\n"
		 "Total:           3 = (       2 (used) +        1 (free))\n"},
		// Free memory alone above the total, as containers report it.
		{"free above the total", make(8 * GiB, 10 * GiB, 0, 0, 0), MiB, false, header +
		 "Mem:          8192          0      10240          0          0          0\n"
		 "Swap:            0          0          0\n"},
		{"wide figures in bytes", make(12345678901234567, 1, 2, 98765432109876543, 0), 1, true, header +
		 "Mem:  12345678901234567 12345678901234566          1          0          0          2\n"
		 "Swap: 98765432109876543 98765432109876543          0\n"
		 "Total: 111111111011111110 = (111111111011111109 (used) +        1 (free))\n"},
	};
	for (const auto &c : cases)
		EXPECT_EQ(capture(c.r, layouts[CLASSICLAYOUT], c.unit, c.total), c.want) << c.name;
}

// A row's line count is what the refresh moves the cursor up by, so it must
// be the lines its print function writes, with and without the total line,
// whatever the figures: sound, without swap, broken, or too wide for their
// columns.
TEST(Layouts, EachRowCountsTheLinesItPrints)
{
	const report figures[] = {
		example(),
		make(1000, 250, 500, 0, 0),
		make(0, 10 * GiB, UINT64_MAX, 1, UINT64_MAX),
		make(UINT64_MAX, UINT64_MAX, UINT64_MAX, UINT64_MAX, UINT64_MAX),
	};
	for (int row = 0; row < LAYOUTCOUNT; row++) {
		const memlayout &layout = layouts[row];
		for (bool total : {false, true}) {
			for (uint64_t unit : {uint64_t{1}, MiB}) {
				for (const report &r : figures) {
					const std::string text = capture(r, layout, unit, total);
					EXPECT_EQ(std::count(text.begin(), text.end(), '\n'),
						  reportlines(&layout, total))
						<< layout.name << (total ? " with" : " without")
						<< " the total line, " << r.snap.total << " bytes /" << unit;
					EXPECT_TRUE(!text.empty() && text.back() == '\n') << layout.name;
				}
			}
		}
	}
}

// The Total lines' figures worked out apart from the program: sums in two
// 64-bit words (every platform has them, not all have 128-bit integers),
// stopped at the largest 64-bit count, then divided.
struct sums {
	uint64_t total, free, avail;
};

struct wide {
	uint64_t high, low;
};

wide plus(wide a, uint64_t b)
{
	wide s = {a.high, a.low + b};
	if (s.low < a.low)
		s.high++;
	return s;
}

sums sumsof(uint64_t total, uint64_t free, uint64_t cached, uint64_t swaptotal,
	    uint64_t swapfree, uint64_t unit)
{
	auto capped = [unit](wide v) { return (v.high != 0 ? UINT64_MAX : v.low) / unit; };
	const wide freesum = plus({0, free}, swapfree);
	const wide stopped = freesum.high != 0 ? wide{0, UINT64_MAX} : freesum;
	return {capped(plus({0, total}, swaptotal)), capped(freesum), capped(plus(stopped, cached))};
}

// Whatever the figures, sound or not, each Total line's first figure is the
// sum of the other two as printed.
TEST(TotalLines, StatedSumsHold)
{
	std::mt19937_64 rng(20261210);
	const uint64_t units[] = {1, KiB, MiB};
	for (int i = 0; i < 20000; i++) {
		uint64_t limit = i % 2 ? UINT64_MAX >> 2 : 1ULL << 40;
		uint64_t total = rng() % limit + 1;
		uint64_t free = rng() % (total + 1);
		uint64_t cached = rng() % (total - free + 1);
		uint64_t swaptotal = i % 5 ? rng() % limit : 0;
		uint64_t swapfree = swaptotal ? rng() % (swaptotal + 1) : 0;
		if (i % 4 == 3) {
			// Broken figures, as containers report them.
			free = rng() >> (rng() % 64);
			cached = rng() >> (rng() % 64);
			swapfree = rng() >> (rng() % 64);
			total = i % 8 == 3 ? 0 : total;
		}
		report r = make(total, free, cached, swaptotal, swapfree);
		uint64_t unit = units[i % 3];
		const sums want = sumsof(total, free, cached, swaptotal, swapfree, unit);
		SCOPED_TRACE(testing::Message() << total << " " << free << " " << cached << " "
						<< swaptotal << " " << swapfree << " /" << unit);

		std::string bars = capture(r, layouts[BARGRAPHLAYOUT], unit, true);
		uint64_t t, f, u;
		size_t at = bars.rfind("\033[0m(");
		ASSERT_EQ(sscanf(bars.c_str() + at, "\033[0m(%" SCNu64 "=%" SCNu64 "+%" SCNu64 ")", &t, &f, &u), 3);
		ASSERT_EQ(t, f + u);
		ASSERT_EQ(t, want.total);
		ASSERT_EQ(f, std::min(want.avail, t));

		std::string table = capture(r, layouts[CLASSICLAYOUT], unit, true);
		at = table.rfind("Total:");
		ASSERT_EQ(sscanf(table.c_str() + at, "Total: %" SCNu64 " = (%" SCNu64 " (used) + %" SCNu64 " (free))", &t, &u, &f), 3);
		ASSERT_EQ(t, u + f);
		ASSERT_EQ(t, want.total);
		ASSERT_EQ(f, std::min(want.free, t));
	}
}

}  // namespace
