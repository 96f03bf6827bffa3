// SPDX-License-Identifier: ISC
/*
 * memglow: how much physical memory and swap is free, as a bar-graph report
 * or a classic table, once or redrawn in place every few seconds.
 *
 * The driver alone decides when the program ends and with what status.
 */
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "memglow.h"

#define USAGE "usage: %s [-b|-k|-m] [-o] [-t] [-s delay] [-V]\n"

/* Flushes standard output and returns status, or reports the write error
 * and returns 1. */
static int finish(int status)
{
	if (fflush(stdout) != 0 || ferror(stdout)) {
		fprintf(stderr, "memglow: write error: %s\n", strerror(errno));
		return 1;
	}
	return status;
}

/* The microseconds since start, no more than the piece being slept. */
static int64_t slept(const struct timespec *start, useconds_t most)
{
	struct timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	const int64_t us = (static_cast<int64_t>(now.tv_sec) - start->tv_sec) * 1000000 +
			   (now.tv_nsec - start->tv_nsec) / 1000;
	return us < 0 ? 0 : us > static_cast<int64_t>(most) ? static_cast<int64_t>(most) : us;
}

/* usleep need not take a second or more at once, so a long pause is slept
 * in pieces, as large as the platform allows; once refused, the largest
 * piece stays under a second for the rest of the run.  A continue after a
 * stop ends the pause; other signals (a resize) only interrupt a piece,
 * whose rest is then slept. */
static void pausefor(int64_t us)
{
	static useconds_t most = static_cast<useconds_t>(-1);

	while (us > 0 && !drawcontinued()) {
		const useconds_t piece = static_cast<uint64_t>(us) < most
						 ? static_cast<useconds_t>(us)
						 : most;
		struct timespec start;
		clock_gettime(CLOCK_MONOTONIC, &start);
		if (usleep(piece) == 0) {
			us -= piece;
		} else if (errno == EINVAL && most > 999999) {
			most = 999999;
		} else if (errno == EINTR) {
			us -= slept(&start, piece);
		} else {
			us -= piece;
		}
	}
}

/* Ends a refreshing run on a failure: the last report stays whole, with
 * its line given back, and the message follows it. */
static int fail(const char *message)
{
	enddrawing(stdout);
	fflush(stdout);
	fputs(message, stderr);
	return finish(1);
}

static int refresh(const memsettings *settings)
{
	memsnapshot snap;
	memfigures fig;
	membars bars;
	char text[REPORTSIZE];
	drawstate screen;
	const bool refreshing = settings->delay != 0;

	startdrawing(&screen, isatty(STDOUT_FILENO), settings->linecount, refreshing);
	for (;;) {
		if (getsnapshot(&snap) != 0)
			return fail("Error getting memory information.\n");
		derivefigures(&snap, &fig);
		buildbars(&fig, &bars);
		const int len = settings->classiclayout
			? printclassic(text, sizeof text, &snap, &fig,
				       settings->unitdivisor, settings->showtotal)
			: printbargraph(text, sizeof text, &snap, &fig, &bars,
					settings->unitdivisor, settings->showtotal);
		if (len < 0 || drawreport(&screen, stdout, text, static_cast<size_t>(len),
					  !refreshing) != 0)
			return fail("memglow: report too long\n");
		const int status = finish(0);
		if (status != 0 || !refreshing)
			return status;
		pausefor(settings->pauseus);
	}
}

int main(int argc, char **argv)
{
	/* Fully buffered, so that each report goes out in one write. */
	static char outbuf[4096];
	const char *name = argc > 0 && argv[0] != nullptr ? argv[0] : "memglow";
	memsettings settings;
	const char *baddelay = nullptr;

	setvbuf(stdout, outbuf, _IOFBF, sizeof outbuf);
	switch (scanoptions(argc, argv, &settings, &baddelay)) {
	case SCAN_VERSION:
		printf("memglow version %s\n", MEMGLOW_VERSION_TEXT);
		return finish(0);
	case SCAN_USAGE:
		printf(USAGE, name);
		return finish(1);
	case SCAN_BADDELAY:
		fprintf(stderr, "%s: invalid delay: %s\n", name, baddelay);
		printf(USAGE, name);
		return finish(1);
	case SCAN_REPORT:
		break;
	}
	return refresh(&settings);
}
