// SPDX-License-Identifier: ISC
/* The system layer (sampler.cpp), the only code that talks to the
 * statistics library. */
#ifndef MEMGLOW_SAMPLER_H
#define MEMGLOW_SAMPLER_H

#include "report.h"

/* Sets up the library and gives up, for good, any privilege the program
 * was started with (a setuid or setgid install): 0, or -1 once the reason
 * is on standard error.  Tried once per run, on the first call here or in
 * getsnapshot, whatever comes of it; later calls return what the first
 * did.  The driver calls it before it opens anything. */
int startsampler(void);

/* Fills snap with fresh figures: 0, or -1 with snap untouched. */
int getsnapshot(memsnapshot *snap);

#endif
