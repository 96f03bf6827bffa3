// SPDX-License-Identifier: ISC
/*
 * memglow: how much physical memory and swap is free, as a bar-graph report
 * or a classic table, once or redrawn in place every few seconds.
 *
 * The driver alone decides when the program ends and with what status.
 */
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <sys/ioctl.h>
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

/* Set when the process is continued after a stop: the shell has written
 * below the last report since, so the next report starts afresh. */
static volatile sig_atomic_t continued = 0;

static void oncontinue(int)
{
	continued = 1;
}

/* usleep need not take a second or more at once, so a long pause is slept
 * in pieces, as large as the platform allows; once refused, the largest
 * piece stays under a second for the rest of the run.  A continue after a
 * stop ends the pause. */
static void pausefor(int64_t us)
{
	static useconds_t most = static_cast<useconds_t>(-1);

	while (us > 0 && !continued) {
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

/* The terminal's width in columns, or 0 where it is unknown. */
static unsigned termcolumns(void)
{
	struct winsize ws;
	if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0)
		return 0;
	return ws.ws_col;
}

static int refresh(const memsettings *settings)
{
	memsnapshot snap;
	memfigures fig;
	membars bars;
	/* This report and the last, whose rows the cursor-up moves over. */
	char text[2][REPORTSIZE];
	int len[2] = {0, 0};
	char up[16];
	int uprows = settings->linecount;
	/* Only a terminal can wrap lines: the width is asked of nothing else. */
	const bool terminal = isatty(STDOUT_FILENO);

	if (settings->delay != 0) {
		struct sigaction sa;
		memset(&sa, 0, sizeof sa);
		sa.sa_handler = oncontinue;
		sigemptyset(&sa.sa_mask);
		sigaction(SIGCONT, &sa, nullptr);
	}
	snprintf(up, sizeof up, "\033[%iA", uprows);
	for (int cur = 0, last = -1;; last = cur, cur = 1 - cur) {
		if (getsnapshot(&snap) != 0) {
			fputs("Error getting memory information.\n", stderr);
			return finish(1);
		}
		derivefigures(&snap, &fig);
		buildbars(&fig, &bars);
		len[cur] = settings->classiclayout
			? printclassic(text[cur], REPORTSIZE, &snap, &fig,
				       settings->unitdivisor, settings->showtotal)
			: printbargraph(text[cur], REPORTSIZE, &snap, &fig, &bars,
					settings->unitdivisor, settings->showtotal);
		if (len[cur] < 0) {
			fputs("memglow: report too long\n", stderr);
			return finish(1);
		}
		/* The cursor-up goes out with the report it makes room for, so
		 * that a failed sample leaves the last report whole.  It moves
		 * over the rows the last report takes now: a terminal made
		 * narrower since has wrapped its lines further.  After a stop
		 * and continue the report starts afresh below. */
		if (last >= 0 && !continued) {
			const unsigned columns = terminal ? termcolumns() : 0;
			const int rows = columns > 0
				? reportrows(text[last], static_cast<size_t>(len[last]), columns)
				: settings->linecount;
			if (rows != uprows) {
				uprows = rows;
				snprintf(up, sizeof up, "\033[%iA", uprows);
			}
			fputs(up, stdout);
		}
		continued = 0;
		fwrite(text[cur], 1, static_cast<size_t>(len[cur]), stdout);
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
