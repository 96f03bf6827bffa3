// SPDX-License-Identifier: ISC
// What must come out the same on every platform, from the pure core alone:
// pauses, percentages, bars, reports, frames and the option scan.  Built
// for other targets and flags than the test suite's (32-bit x86, a user's
// -ffast-math, C++20), it uses nothing but the C library, as the program
// does.  Prints each failed check and exits 1 after any.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "frames.h"
#include "options.h"
#include "report.h"

static int failures = 0;

static void check(bool ok, const char *what)
{
	if (!ok) {
		printf("FAILED: %s\n", what);
		failures++;
	}
}

static void pauses()
{
	// The double product, truncated: never one microsecond short.
	const struct {
		double delay;
		int64_t us;
	} cases[] = {
		{0.3, 300000},
		{0.7, 700000},
		{0.000001, 1},
		{0.0000001, 0},
		{4294.967296, 4294967296},
		{1e300, INT64_MAX},
	};
	for (const auto &c : cases) {
		char what[64];
		snprintf(what, sizeof what, "pause of %.9g s is %lld us", c.delay,
			 static_cast<long long>(c.us));
		check(pauselength(c.delay) == c.us, what);
	}
}

static unsigned marks(uint64_t part, uint64_t whole)
{
	memsnapshot s = {whole, part, 0, 0, 0, 0, 0};
	memfigures f;
	derivefigures(&s, &f);
	return countmarks(f.freepercent, 0, 0).numberofmarks;
}

static void bars()
{
	const uint64_t GiB = 1ULL << 30;
	check(marks(1 * GiB, 35 * GiB) == 1, "1 GiB of 35 draws one mark");
	check(marks(2 * GiB, 35 * GiB) == 2, "2 GiB of 35 draw two marks");
	// Where the double quotient and product round below a whole mark or
	// above it; kept in wider registers they would land the other way.
	check(marks(23, 35) == 22, "23 of 35 draw 22 marks");
	check(marks(31, 35) == 31, "31 of 35 draw 31 marks");
	check(marks(33, 35) == 32, "33 of 35 draw 32 marks");
	check(marks(27, 35) == 27, "27 of 35 draw 27 marks");
	memsnapshot s = {100, 29, 0, 0, 0, 0, 0};
	memfigures f;
	derivefigures(&s, &f);
	check(wholepercent(f.freepercent) == 28, "29 of 100 print 28 %: 0.29 * 100 is below 29");
	check(marks(35 * GiB, 35 * GiB) == 35, "all of it draws 35 marks");
	check(marks(1ULL << 62, 1ULL << 62) == 35, "2^62 bytes of 2^62 draw 35 marks");
	check(countmarks(NAN, 0, 0).numberofmarks == 0, "NaN draws no mark");
	check(countmarks(INFINITY, 0, 0).numberofmarks == BARLEN, "infinity draws them all");
	check(countmarks(0, NAN, 0).remainnum == BARLEN, "a NaN second share draws no mark");
	check(wholepercent(NAN) == 0, "a NaN percentage prints 0");
	check(wholepercent(1e300) == 2147483647, "a huge percentage prints INT_MAX");
	check(wholepercent(-INFINITY) == -2147483647 - 1, "-infinity prints INT_MIN");
	check(wholepercent(99.99) == 99, "99.99 % prints 99");
}

static void reports()
{
	const uint64_t GiB = 1ULL << 30;
	memsnapshot s = {8 * GiB, 1 * GiB, 0, 0, 3 * GiB, 2 * GiB, 2 * GiB};
	memfigures f;
	membars b;
	char text[REPORTSIZE];
	derivefigures(&s, &f);
	buildbars(&f, &b);
	const memlayout *barlayout = chosenlayout(false), *tablelayout = chosenlayout(true);
	const int n = barlayout->print(text, sizeof text, &s, &f, &b, 1024, true);
	check(n >= 0 && strcmp(text,
		"Physical  : \033[1;30m[\033[1;32m####\033[1;31m%%%%%%%%%%%%%\033[1;37m.................."
		"\033[1;30m]\033[1;37m 50\033[0;31m%\033[0m\t(4194304/8388608)\n"
		"Swap      : \033[1;30m[\033[1;32m###################################\033[1;31m\033[1;37m"
		"\033[1;30m]\033[1;37m 100\033[0;31m%\033[0m\t(2097152/2097152)\n"
		"Total     : \033[1;30m[\033[1;32m#####################\033[1;31m%%%%%%%%%%%%%%\033[1;37m"
		"\033[1;30m]\033[1;37m \033[0m(10485760=6291456+4194304)\n") == 0,
	      "the example's bar-graph report (written out here on purpose, the one place that spells out "
	      "the marks and colours of src/report.h: a change there changes it too)");
	// The sum of free and cache percentages is a double too: 1 and 6 of 7
	// bytes print 100 %.
	memsnapshot seven = {7, 1, 0, 0, 6, 0, 0};
	derivefigures(&seven, &f);
	buildbars(&f, &b);
	check(barlayout->print(text, sizeof text, &seven, &f, &b, 1, false) >= 0 &&
		      strstr(text, "\033[1;37m 100\033[0;31m%") != nullptr,
	      "1 free and 6 cache of 7 print 100 %");
	derivefigures(&s, &f);
	const int m = tablelayout->print(text, sizeof text, &s, &f, &b, 1, true);
	check(m >= 0 && strcmp(text,
		"             total       used       free     shared    buffers     cached\n"
		"Mem:    8589934592 7516192768 1073741824          0          0 3221225472\n"
		"Swap:   2147483648          0 2147483648\n"
		"Total: 10737418240 = (7516192768 (used) + 3221225472 (free))\n") == 0,
	      "the example's table in bytes");
	const memsnapshot huge = {UINT64_MAX, UINT64_MAX, 0, 0, UINT64_MAX, UINT64_MAX, UINT64_MAX};
	derivefigures(&huge, &f);
	check(f.combinedtotal == UINT64_MAX && f.combinedavail == UINT64_MAX, "sums saturate");
	check(suminunits(UINT64_MAX, UINT64_MAX, 1024) == (UINT64_MAX / 1024) * 2 + 1,
	      "sums in units carry their remainders");

	drawstate d;
	char frame[FRAMESIZE];
	startframes(&d, true, 2);
	drawframe(&d, frame, sizeof frame, "a\tb\nc\n", 6, 4, 0, false, false);
	check(d.rows == 3, "a tab's spaces wrap at 4 columns");
	drawframe(&d, frame, sizeof frame, "a\nb\n", 4, 4, 0, false, false);
	check(strcmp(frame, "\r\033[3Aa\033[K\nb\033[J") == 0, "the redraw moves up over the last report");
	startframes(&d, true, 2);
	drawframe(&d, frame, sizeof frame, "\0337xx\033[1@\n", 9, 1, 0, false, true);
	check(d.rows == 2, "escapes take no column");
}

static void scans()
{
	char name[] = "memglow", vm[] = "-Vm", o[] = "-o", s[] = "-s", inf[] = "inf",
	     nan[] = "nan", half[] = "0.3";
	char *first[] = {name, vm, nullptr};
	char *second[] = {name, o, nullptr};
	char *infinite[] = {name, s, inf, nullptr};
	char *notanumber[] = {name, s, nan, nullptr};
	char *delay[] = {name, s, half, nullptr};
	memsettings set;
	const char *bad = nullptr;
	check(scanoptions(2, first, &set, &bad) == SCAN_VERSION, "-Vm prints the version");
	check(scanoptions(2, second, &set, &bad) == SCAN_REPORT && set.classiclayout &&
		      set.unitdivisor == 1024,
	      "a scan after one that stopped inside -Vm starts clean");
	check(set.linecount == 3, "-o reports take 3 lines");
	check(scanoptions(3, infinite, &set, &bad) == SCAN_BADDELAY, "-s inf is refused");
	check(scanoptions(3, notanumber, &set, &bad) == SCAN_BADDELAY, "-s nan is refused");
	check(scanoptions(3, delay, &set, &bad) == SCAN_REPORT && set.pauseus == 300000,
	      "-s 0.3 pauses 300000 us");
}

int main()
{
	pauses();
	bars();
	reports();
	scans();
	printf("%s: %d failed\n", failures == 0 ? "ok" : "FAILED", failures);
	return failures == 0 ? 0 : 1;
}
