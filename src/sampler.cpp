// SPDX-License-Identifier: ISC
#include <cstdio>

#include <statgrab.h>

#include "sampler.h"

/* Set up and privilege release are tried once per run, whatever comes of
 * them. */
static bool statsready = false;

int getsnapshot(memsnapshot *snap)
{
	if (!statsready) {
		statsready = true;
		sg_init(0);
		if (sg_drop_privileges() != SG_ERROR_NONE) {
			perror("Error. Failed to drop privileges");
			return -1;
		}
	}
	/* The records belong to the library: copy the figures out at once. */
	const sg_mem_stats *mem = sg_get_mem_stats(nullptr);
	const sg_swap_stats *swap = sg_get_swap_stats(nullptr);
	if (mem == nullptr || swap == nullptr)
		return -1;
	takefigures(snap, LIBFREEHOLDSCACHE, mem->total, mem->free, mem->cache, swap->total, swap->free);
	return 0;
}
