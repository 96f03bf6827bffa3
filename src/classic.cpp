// SPDX-License-Identifier: ISC
#include <algorithm>
#include <cinttypes>

#include "report.h"

int printclassic(char *buf, size_t size, const memsnapshot *snap,
		 const memfigures *fig, const membars *, uint64_t unitdivisor,
		 bool showtotal)
{
	const uint64_t d = unitdivisor;
	size_t len = 0;
	if (appendf(buf, size, &len,
		"             total       used       free     shared    buffers     cached\n"
		"Mem:  %12" PRIu64 " %10" PRIu64 " %10" PRIu64 " %10" PRIu64 " %10" PRIu64 " %10" PRIu64 "\n"
		"Swap: %12" PRIu64 " %10" PRIu64 " %10" PRIu64 "\n",
		inunits(snap->total, d), inunits(lessof(snap->total, snap->free), d),
		inunits(snap->free, d), inunits(snap->shared, d),
		inunits(snap->buffers, d), inunits(snap->cached, d),
		inunits(snap->swaptotal, d),
		inunits(lessof(snap->swaptotal, snap->swapfree), d),
		inunits(snap->swapfree, d)) != 0)
		return -1;
	if (showtotal) {
		/* The used part counts the cache as used, as the Mem row does.
		 * The free part is at most the printed total and the used part
		 * is what remains of it, so that the stated sum holds after
		 * truncation on any figures. */
		const uint64_t total = inunits(fig->combinedtotal, d);
		const uint64_t free = std::min(inunits(fig->combinedfree, d), total);
		if (appendf(buf, size, &len,
			"Total: %11" PRIu64 " = (%8" PRIu64 " (used) + %8" PRIu64 " (free))\n",
			total, lessof(total, free), free) != 0)
			return -1;
	}
	return static_cast<int>(len);
}
