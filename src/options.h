// SPDX-License-Identifier: ISC
/* The command line (cmdline.cpp): the report settings it fixes. */
#ifndef MEMGLOW_OPTIONS_H
#define MEMGLOW_OPTIONS_H

#include <cstdint>

struct memsettings {
	uint64_t unitdivisor;
	double delay;
	bool classiclayout;
	bool showtotal;
	int linecount;
	int64_t pauseus;
};

enum scanresult { SCAN_REPORT, SCAN_VERSION, SCAN_USAGE, SCAN_BADDELAY };
/* Reads the options into settings and says what the driver is to do.  On
 * SCAN_BADDELAY, *baddelay points at the offending argument.  It never exits,
 * and it leaves getopt ready for another scan. */
scanresult scanoptions(int argc, char **argv, memsettings *settings,
		       const char **baddelay);
/* The pause in microseconds, truncated toward zero; saturates at INT64_MAX.
 * The delay must be finite and not negative. */
int64_t pauselength(double delay);

#endif
