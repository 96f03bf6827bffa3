// SPDX-License-Identifier: ISC
#include <cmath>
#include <cstdlib>
#include <unistd.h>

#include "options.h"
#include "report.h"

/* glibc permutes arguments unless the option string starts with '+'; the
 * other C libraries stop at the first non-option already and would take the
 * '+' for an option. */
#ifdef __GLIBC__
#define OPTIONS "+obkmVs:t"
#else
#define OPTIONS "obkmVs:t"
#endif

/*
 * Leaves getopt ready for a scan of another argument list.  A scan that
 * stopped early (-V, a bad option) may have stopped inside a cluster such as
 * -Vm, and getopt keeps its place in a cluster where no standard says how to
 * reset it: so it is first run to its end, quietly, which every getopt
 * leaves clean, and then set back to the start (glibc and musl also take
 * optind 0 as a full reset, the BSDs and macOS optreset).
 */
static void resetgetopt(int argc, char **argv)
{
	const int report = opterr;
	opterr = 0;
	while (getopt(argc, argv, OPTIONS) != -1) {
	}
	opterr = report;
#if defined(__GLIBC__)
	optind = 0;
#else
#if defined(__FreeBSD__) || defined(__OpenBSD__) || defined(__NetBSD__) || \
	defined(__DragonFly__) || defined(__APPLE__)
	optreset = 1;
#endif
	optind = 1;
#endif
}

int64_t pauselength(double delay)
{
	const double us = std::trunc(rounded(delay * 1000000));
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
	resetgetopt(argc, argv);
	if (result != SCAN_REPORT)
		return result;
	/* A delay that cannot be slept is refused; -0 is zero. */
	if (!std::isfinite(settings->delay) || settings->delay < 0) {
		*baddelay = delayarg;
		return SCAN_BADDELAY;
	}
	settings->linecount = reportlines(chosenlayout(settings->classiclayout),
					  settings->showtotal);
	settings->pauseus = pauselength(settings->delay);
	return SCAN_REPORT;
}
