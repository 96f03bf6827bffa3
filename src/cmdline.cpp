// SPDX-License-Identifier: ISC
#include <cmath>
#include <cstdlib>
#include <unistd.h>

#include "memglow.h"

/* glibc permutes arguments unless the option string starts with '+'; the
 * other C libraries stop at the first non-option already and would take the
 * '+' for an option. */
#ifdef __GLIBC__
#define OPTIONS "+obkmVs:t"
#else
#define OPTIONS "obkmVs:t"
#endif

#if defined(__GLIBC__)
static void resetgetopt(void) { optind = 0; }
#elif defined(__FreeBSD__) || defined(__OpenBSD__) || defined(__NetBSD__) || \
	defined(__DragonFly__) || defined(__APPLE__)
static void resetgetopt(void)
{
	optreset = 1;
	optind = 1;
}
#else
static void resetgetopt(void) { optind = 1; }
#endif

int64_t pauselength(double delay)
{
	const double us = std::trunc(delay * 1000000);
	/* 2^63 is exact as a double; INT64_MAX is not. */
	if (!(us < 9223372036854775808.0))
		return INT64_MAX;
	return us > 0 ? static_cast<int64_t>(us) : 0;
}

scanresult scanoptions(int argc, char **argv, memsettings *settings,
		       const char **baddelay)
{
	scanresult result = SCAN_REPORT;
	const char *delayarg = nullptr;
	int c;

	settings->unitdivisor = 1024;
	settings->delay = 0;
	settings->classiclayout = false;
	settings->showtotal = false;
	while (result == SCAN_REPORT && (c = getopt(argc, argv, OPTIONS)) != -1) {
		switch (c) {
		case 'b':
			settings->unitdivisor = 1;
			break;
		case 'k':
			settings->unitdivisor = 1024;
			break;
		case 'm':
			settings->unitdivisor = 1048576;
			break;
		case 'o':
			settings->classiclayout = true;
			break;
		case 't':
			settings->showtotal = true;
			break;
		case 's':
			delayarg = optarg;
			/* strtod reads what atof reads, without atof's undefined
			 * behaviour on a number out of range. */
			settings->delay = std::strtod(optarg, nullptr);
			break;
		case 'V':
			result = SCAN_VERSION;
			break;
		default:
			result = SCAN_USAGE;
			break;
		}
	}
	resetgetopt();
	if (result != SCAN_REPORT)
		return result;
	/* A delay that cannot be slept is refused; -0 is zero. */
	if (!std::isfinite(settings->delay) || settings->delay < 0) {
		*baddelay = delayarg;
		return SCAN_BADDELAY;
	}
	settings->linecount = (settings->classiclayout ? 3 : 2) +
			      (settings->showtotal ? 1 : 0);
	settings->pauseus = pauselength(settings->delay);
	return SCAN_REPORT;
}
