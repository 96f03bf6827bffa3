// SPDX-License-Identifier: ISC
#include <climits>
#include <cmath>

#include "report.h"

void takefigures(memsnapshot *snap, bool libfreeholdscache, uint64_t total,
		 uint64_t libfree, uint64_t cache, uint64_t swaptotal,
		 uint64_t swapfree)
{
	snap->total = total;
	/*
	 * Counted again as cache, a free figure that holds the cache would put
	 * free memory above the total, so keep the two apart wherever the
	 * figures allow it.
	 */
	snap->free = libfreeholdscache && libfree >= cache ? libfree - cache : libfree;
	snap->shared = 0;
	snap->buffers = 0;
	snap->cached = cache;
	snap->swaptotal = swaptotal;
	snap->swapfree = swapfree;
}

static double percentof(uint64_t part, uint64_t whole)
{
	return rounded(rounded(rounded(static_cast<double>(part)) / rounded(static_cast<double>(whole))) * 100);
}

void derivefigures(const memsnapshot *snap, memfigures *fig)
{
	fig->combinedtotal = satadd(snap->total, snap->swaptotal);
	fig->combinedfree = satadd(snap->free, snap->swapfree);
	fig->combinedavail = satadd(fig->combinedfree, snap->cached);
	fig->freepercent = percentof(snap->free, snap->total);
	fig->cachepercent = percentof(snap->cached, snap->total);
	fig->swapfreepercent =
		snap->swaptotal == 0 ? 0 : percentof(snap->swapfree, snap->swaptotal);
	fig->availpercent = percentof(fig->combinedavail, fig->combinedtotal);
}

uint64_t inunits(uint64_t bytes, uint64_t unitdivisor)
{
	return unitdivisor == 0 ? bytes : bytes / unitdivisor;
}

uint64_t satadd(uint64_t a, uint64_t b)
{
	return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

uint64_t suminunits(uint64_t a, uint64_t b, uint64_t unitdivisor)
{
	const uint64_t d = unitdivisor == 0 ? 1 : unitdivisor;
	/* The remainders carry one unit where they add up to d or more; the
	 * test is made without adding them, which could wrap. */
	uint64_t carry = a % d >= d - b % d ? 1 : 0;
	uint64_t whole = a / d;
	uint64_t rest = b / d + carry;
	if (whole > UINT64_MAX - rest)
		return UINT64_MAX;
	return whole + rest;
}

uint64_t lessof(uint64_t a, uint64_t b)
{
	return a > b ? a - b : 0;
}

int wholepercent(double percent)
{
	if (std::isnan(percent))
		return 0;
	if (percent <= INT_MIN)
		return INT_MIN;
	if (percent >= INT_MAX)
		return INT_MAX;
	return static_cast<int>(percent);
}
