// SPDX-License-Identifier: ISC
/* The count checks guard the bar buffers and stay on in every build. */
#undef NDEBUG
#include <algorithm>
#include <cassert>
#include <cinttypes>
#include <cmath>
#include <cstring>

#include "report.h"

/*
 * A percentage's share of a bar of BARLEN marks, truncated toward zero and
 * clamped into 0..most: NaN and negative shares draw none, shares past most
 * (+infinity among them) draw most.  The double is compared before it is
 * converted, so no conversion is out of range.
 */
static unsigned marksfor(double percent, unsigned most)
{
	const double share = rounded(rounded(percent / 100) * static_cast<double>(BARLEN));
	if (!(share >= 1.0))
		return 0;
	if (share >= most)
		return most;
	return static_cast<unsigned>(share);
}

barmarks countmarks(double first, double second, int fill)
{
	barmarks m;
	m.numberofmarks = marksfor(first, BARLEN);
	m.numofmarkstwo = fill ? BARLEN - m.numberofmarks
			       : marksfor(second, BARLEN - m.numberofmarks);
	m.remainnum = BARLEN - m.numofmarkstwo - m.numberofmarks;
	return m;
}

/* Appends count copies of mark and then the colour sequence, if any. */
static char *segment(char *p, char mark, unsigned count, const char *colour = "")
{
	memset(p, mark, count);
	p += count;
	const size_t len = strlen(colour);
	memcpy(p, colour, len);
	return p + len;
}

void drawbar(char *bar, const barmarks *marks)
{
	const unsigned numberofmarks = marks->numberofmarks;
	const unsigned numofmarkstwo = marks->numofmarkstwo;
	const unsigned remainnum = marks->remainnum;

	/* Passed, the checks leave counts that add up to BARLEN exactly, so the
	 * bar fills BARSIZE - 1 bytes. */
	assert(numberofmarks <= BARLEN);
	assert(numofmarkstwo <= BARLEN);
	assert(remainnum <= BARLEN);
	assert(numberofmarks + numofmarkstwo + remainnum == BARLEN);
	char *p = segment(bar, FREEMARK, numberofmarks, CACHECOLOUR);
	p = segment(p, CACHEMARK, numofmarkstwo, RESTCOLOUR);
	p = segment(p, RESTMARK, remainnum);
	*p = '\0';
}

void bargraph(char *bar, double first, double second, int fill)
{
	const barmarks m = countmarks(first, second, fill);
	drawbar(bar, &m);
}

void buildbars(const memfigures *fig, membars *bars)
{
	bargraph(bars->swap, fig->swapfreepercent, 0, 0);
	bargraph(bars->physical, fig->freepercent, fig->cachepercent, 0);
	bargraph(bars->total, std::trunc(fig->availpercent), 0, 1);
}

int printbargraph(char *buf, size_t size, const memsnapshot *snap,
		  const memfigures *fig, const membars *bars, uint64_t unitdivisor,
		  bool showtotal)
{
	size_t len = 0;
	if (appendf(buf, size, &len,
		"Physical  : " BRACKETCOLOUR "[" FREECOLOUR "%s" BRACKETCOLOUR "]" FIGURECOLOUR " %i" SIGNCOLOUR "%%" PLAINCOLOUR
		"\t(%" PRIu64 "/%" PRIu64 ")\n"
		"Swap      : " BRACKETCOLOUR "[" FREECOLOUR "%s" BRACKETCOLOUR "]" FIGURECOLOUR " %i" SIGNCOLOUR "%%" PLAINCOLOUR
		"\t(%" PRIu64 "/%" PRIu64 ")\n",
		bars->physical, wholepercent(rounded(fig->freepercent + fig->cachepercent)),
		suminunits(snap->free, snap->cached, unitdivisor),
		inunits(snap->total, unitdivisor),
		bars->swap, wholepercent(fig->swapfreepercent),
		inunits(snap->swapfree, unitdivisor),
		inunits(snap->swaptotal, unitdivisor)) != 0)
		return -1;
	if (showtotal) {
		/* The free part counts the cache as available, as the total bar
		 * does; it is at most the printed total, and the used part is
		 * what remains of it, so that the stated sum holds after
		 * truncation on any figures. */
		const uint64_t total = inunits(fig->combinedtotal, unitdivisor);
		const uint64_t avail = std::min(inunits(fig->combinedavail, unitdivisor), total);
		if (appendf(buf, size, &len,
			"Total     : " BRACKETCOLOUR "[" FREECOLOUR "%s" BRACKETCOLOUR "]" FIGURECOLOUR " " PLAINCOLOUR
			"(%" PRIu64 "=%" PRIu64 "+%" PRIu64 ")\n",
			bars->total, total, avail, lessof(total, avail)) != 0)
			return -1;
	}
	return static_cast<int>(len);
}
