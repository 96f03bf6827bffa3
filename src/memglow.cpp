// SPDX-License-Identifier: ISC
/*
 * memglow: how much physical memory and swap is free, as a bar-graph report
 * or a classic table, once or redrawn in place every few seconds.
 *
 * The driver alone decides when the program ends and with what status; the
 * terminal unit may end it sooner, by a signal that ends a run.
 */
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "options.h"
#include "report.h"
#include "sampler.h"
#include "terminal.h"

#define USAGE "usage: %s [-b|-k|-m] [-o] [-t] [-s delay] [-V]\n"

/* Flushes standard output and returns status, or reports the write error
 * and returns 1. */
static int flushout(int status)
{
	if (fflush(stdout) != 0 || ferror(stdout)) {
		fprintf(stderr, "memglow: write error: %s\n", strerror(errno));
		return 1;
	}
	return status;
}

/* Ends a run on a failure: the last report stays whole, with its line
 * given back, and the message follows it.  err is the error of a failed
 * write of the report, or 0. */
static int fail(const char *message, int err)
{
	const int lost = endoutput() != 0 ? errno : 0;
	if (err != 0)
		fprintf(stderr, "memglow: write error: %s\n", strerror(err));
	else
		fputs(message, stderr);
	if (lost != 0 && lost != err)
		fprintf(stderr, "memglow: write error: %s\n", strerror(lost));
	return flushout(1);
}

static int refresh(const memsettings *settings)
{
	memsnapshot snap;
	memfigures fig;
	membars bars;
	char text[REPORTSIZE];
	const bool refreshing = settings->delay != 0;
	const memlayout *layout = chosenlayout(settings->classiclayout);

	/* Privileges go before the terminal is opened. */
	if (startsampler() != 0) {
		fputs("Error getting memory information.\n", stderr);
		return flushout(1);
	}
	startoutput(settings->linecount, refreshing);
	for (;;) {
		if (getsnapshot(&snap) != 0)
			return fail("Error getting memory information.\n", 0);
		derivefigures(&snap, &fig);
		buildbars(&fig, &bars);
		const int len = layout->print(text, sizeof text, &snap, &fig, &bars,
					      settings->unitdivisor, settings->showtotal);
		if (len < 0)
			return fail("memglow: report too long\n", 0);
		if (showreport(text, static_cast<size_t>(len), !refreshing) != 0)
			return errno == EMSGSIZE ? fail("memglow: report too long\n", 0)
						 : fail(nullptr, errno);
		const int status = flushout(0);
		if (status != 0 || !refreshing) {
			endsignals();
			return status;
		}
		pausefor(settings->pauseus);
	}
}

int main(int argc, char **argv)
{
	/* Fully buffered, so that each report goes out in one write. */
	static char outbuf[4096];
	/* Only a bad option uses it, and then argv[0] is there. */
	const char *name = argv[0];
	memsettings settings;
	const char *baddelay = nullptr;

	setvbuf(stdout, outbuf, _IOFBF, sizeof outbuf);
	switch (scanoptions(argc, argv, &settings, &baddelay)) {
	case SCAN_VERSION:
		printf("memglow version %s\n", MEMGLOW_VERSION_TEXT);
		return flushout(0);
	case SCAN_USAGE:
		printf(USAGE, name);
		return flushout(1);
	case SCAN_BADDELAY:
		fprintf(stderr, "%s: invalid delay: %s\n", name, baddelay);
		printf(USAGE, name);
		return flushout(1);
	case SCAN_REPORT:
		break;
	}
	return refresh(&settings);
}
