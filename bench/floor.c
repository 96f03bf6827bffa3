/* SPDX-License-Identifier: ISC */
/* The floor: what any report costs through libstatgrab.  Set-up, privilege
 * release, the two queries (N times, for the refresh loop) and one printf. */
#include <statgrab.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv)
{
	long n = argc > 1 ? atol(argv[1]) : 1;
	sg_mem_stats *m = NULL;
	sg_swap_stats *s = NULL;

	sg_init(0);
	if (sg_drop_privileges() != SG_ERROR_NONE)
		return 1;
	for (long i = 0; i < n; i++) {
		m = sg_get_mem_stats(NULL);
		s = sg_get_swap_stats(NULL);
		if (m == NULL || s == NULL)
			return 1;
	}
	printf("%llu %llu %llu %llu %llu\n", m->total, m->free, m->cache, s->total, s->free);
	return 0;
}
