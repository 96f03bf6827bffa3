// SPDX-License-Identifier: ISC
// The report: arbitrary library figures and unit divisors through the
// snapshot, the derived figures, the bar builder, every layout and the
// frames that draw them.  Any figures must give 35-mark bars, reports of
// as many lines as their layout's row counts, Total lines whose stated sums
// hold, and reports that any frame holds.
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frames.h"
#include "report.h"

static void require(bool ok)
{
	if (!ok)
		abort();
}

static void checkbar(const char *bar)
{
	unsigned marks = 0;
	for (const char *p = bar; *p != '\0'; p++)
		marks += *p == '#' || *p == '%' || *p == '.';
	require(strlen(bar) == BARSIZE - 1 && marks == BARLEN);
}

/* Writes a layout into out and returns its length. */
static size_t print(char *out, const memlayout *layout, const memsnapshot *snap,
		    const memfigures *fig, const membars *bars, uint64_t unit, bool total)
{
	int len = layout->print(out, REPORTSIZE, snap, fig, bars, unit, total);
	require(len > 0 && len < REPORTSIZE);
	require(out[len - 1] == '\n' && strlen(out) == static_cast<size_t>(len));
	int lines = 0;
	for (const char *p = out; *p != '\0'; p++)
		lines += *p == '\n';
	require(lines == reportlines(layout, total));
	return static_cast<size_t>(len);
}

/* Each layout's Total line states a sum t = a + b: the last of its marks
 * starts the line's figures, read by its format.  In the order of the
 * layouts' rows. */
static const struct {
	const char *mark;
	const char *format;
} totalsums[] = {
	{"(", "(%" SCNu64 "=%" SCNu64 "+%" SCNu64 ")"},
	{"Total:", "Total: %" SCNu64 " = (%" SCNu64 " (used) + %" SCNu64 " (free))"},
};
static_assert(sizeof totalsums / sizeof totalsums[0] == LAYOUTCOUNT, "a Total line for each layout");

static const char *lastof(const char *text, const char *mark)
{
	const char *last = nullptr;
	for (const char *p = strstr(text, mark); p != nullptr; p = strstr(p + 1, mark))
		last = p;
	return last;
}

/* Any report fits a frame, drawn first or over another, on a terminal of
 * any width and height or into a pipe; on a terminal no tab and no last
 * newline go out, and no erase follows the move up to the report's first
 * row; into a pipe the report goes out as it is. */
static void drawn(const char *report, size_t len, unsigned columns, unsigned height)
{
	static char frame[FRAMESIZE];
	for (int terminal = 0; terminal < 2; terminal++) {
		drawstate d;
		startframes(&d, terminal != 0, 4);
		for (int i = 0; i < 2; i++) {
			const int n = drawframe(&d, frame, sizeof frame, report, len, columns, height,
						false, false);
			require(n > 0 && strlen(frame) == static_cast<size_t>(n));
			if (terminal)
				require(strchr(frame, '\t') == nullptr && frame[n - 1] != '\n' && d.rows >= 1 &&
					strstr(frame, "A\033[J") == nullptr);
			else
				require(memcmp(frame + n - len, report, len) == 0);
		}
	}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	uint64_t v[6] = {0, 0, 0, 0, 0, 0};
	uint8_t flags = 0;

	memcpy(v, data, size < sizeof v ? size : sizeof v);
	if (size > sizeof v)
		flags = data[sizeof v];
	const uint64_t units[] = {1, 1024, 1048576, v[5]};
	const uint64_t unit = units[flags & 3];
	const bool total = flags & 4;
	memsnapshot snap;
	memfigures fig;
	takefigures(&snap, !(flags & 8), v[0], v[1], v[2], v[3], v[4]);
	require(snap.shared == 0 && snap.buffers == 0);
	derivefigures(&snap, &fig);

	membars bars;
	buildbars(&fig, &bars);
	checkbar(bars.physical);
	checkbar(bars.swap);
	checkbar(bars.total);

	static char out[REPORTSIZE];
	const unsigned columns = static_cast<unsigned>(v[5] % 300);
	const unsigned height = static_cast<unsigned>((v[5] >> 16) % 8);
	for (int row = 0; row < LAYOUTCOUNT; row++) {
		drawn(out, print(out, &layouts[row], &snap, &fig, &bars, unit, total), columns, height);
		if (total) {
			uint64_t t, a, b;
			const char *line = lastof(out, totalsums[row].mark);
			require(line != nullptr);
			require(sscanf(line, totalsums[row].format, &t, &a, &b) == 3);
			require(t == a + b);
		}
	}
	return 0;
}
