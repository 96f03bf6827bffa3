/* SPDX-License-Identifier: ISC */
/* Preloaded over the real libstatgrab, it ends a refreshing run after
 * MEMGLOW_BENCH_REPORTS samples by failing the next memory query. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <statgrab.h>

sg_mem_stats *sg_get_mem_stats(size_t *entries)
{
	static sg_mem_stats *(*real)(size_t *);
	static long left;

	if (real == NULL) {
		const char *n = getenv("MEMGLOW_BENCH_REPORTS");
		real = (sg_mem_stats *(*)(size_t *))dlsym(RTLD_NEXT, "sg_get_mem_stats");
		left = n != NULL ? atol(n) : 1;
	}
	if (left-- <= 0)
		return NULL;
	return real(entries);
}
