/*
 * memglow: how much physical memory and swap is free, as a bar-graph report
 * or a classic table, once or redrawn in place every few seconds.
 *
 * The driver alone decides when the program ends and with what status.
 */
#include <cerrno>
#include <cstdio>
#include <cstring>
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

/* usleep need not take a second or more at once, so a long pause is slept
 * in pieces, as large as the platform allows. */
static void pausefor(int64_t us)
{
	useconds_t most = static_cast<useconds_t>(-1);

	while (us > 0) {
		const useconds_t piece = static_cast<uint64_t>(us) < most
						 ? static_cast<useconds_t>(us)
						 : most;
		if (usleep(piece) != 0 && errno == EINVAL && most > 999999) {
			most = 999999;
			continue;
		}
		us -= piece;
	}
}

static int refresh(const memsettings *settings)
{
	memsnapshot snap;
	memfigures fig;
	membars bars;
	char up[16];

	/* The cursor-up sequence moves over one whole report. */
	snprintf(up, sizeof up, "\033[%iA", settings->linecount);
	for (bool first = true;; first = false) {
		if (getsnapshot(&snap) != 0) {
			fputs("Error getting memory information.\n", stderr);
			return finish(1);
		}
		derivefigures(&snap, &fig);
		buildbars(&fig, &bars);
		/* The cursor-up goes out with the report it makes room for, so
		 * that a failed sample leaves the last report whole. */
		if (!first)
			fputs(up, stdout);
		if (settings->classiclayout)
			printclassic(stdout, &snap, &fig, settings->unitdivisor,
				     settings->showtotal);
		else
			printbargraph(stdout, &snap, &fig, &bars,
				      settings->unitdivisor, settings->showtotal);
		const int status = finish(0);
		if (status != 0 || settings->delay == 0)
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
