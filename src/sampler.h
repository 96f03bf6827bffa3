// SPDX-License-Identifier: ISC
/* The system layer (sampler.cpp), the only code that talks to the
 * statistics library. */
#ifndef MEMGLOW_SAMPLER_H
#define MEMGLOW_SAMPLER_H

#include "report.h"

/* Fills snap with fresh figures: 0, or -1 with snap untouched.  The first
 * call sets up the library and drops privileges. */
int getsnapshot(memsnapshot *snap);

#endif
