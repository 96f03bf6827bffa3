// SPDX-License-Identifier: ISC
/*
 * Frames (frames.cpp): what goes out for each report so that it is drawn
 * over the last one, into a pipe or on a terminal.  Pure: the terminal unit
 * (terminal.cpp) tells it the terminal's size and what happened to the
 * screen, and writes what it makes.
 */
#ifndef MEMGLOW_FRAMES_H
#define MEMGLOW_FRAMES_H

#include <cstddef>

#include "report.h"

/* Room for any report as it goes out on a terminal of any width: at one
 * column each printed character takes a row of its own, with a newline and
 * the erase of the row's tail. */
enum { FRAMESIZE = 6 * REPORTSIZE };

struct drawstate {
	bool terminal;     /* otherwise a pipe or a file */
	bool drawn;        /* a report went out */
	int linecount;     /* lines of a report */
	bool holds;        /* the last one holds its newline back */
	int rows;          /* rows above the cursor's that the last one takes */
	size_t widest;     /* the printed width of its widest row */
	unsigned width;    /* the terminal's width it was drawn at, or 0 */
	unsigned height;   /* and height */
	bool shrunk;       /* a height below that was told since */
	char up[16];       /* the last cursor-up written, over uprows rows */
	size_t uplen;
	int uprows;
};

/*
 * startframes starts a run's state.  drawframe makes what goes out for the
 * report, as a terminated frame of at most size bytes, and returns its
 * length, or -1 when it does not fit.
 *
 * Into a pipe or a file the frame is the report, after a cursor-up of one
 * line per report line when a report went before and the run was not
 * continued since (afresh).
 *
 * On a terminal of the given width and height (0 where unknown) the report
 * goes out as rows of that width, each but the last ending in a newline: the
 * report's last newline is held back unless last says that the run ends with
 * it (or that nothing is to be drawn over it), so that the cursor waits at
 * the end of its last row, and tabs go out as spaces.
 * The first report is its rows.  A later one is drawn in place: from the
 * start of the cursor's row, up over the rows of the report on screen but
 * the last, no further than the terminal's top row, each row over the old
 * one, with the tail of each row that does not fill the width erased and
 * everything below the last row erased; a report taller than the terminal
 * leaves out its first rows, so that it fits below the top row.  It starts
 * afresh instead, on the line below one that holds its newline, without
 * moving up, when afresh says
 * that the rows on screen are not known to be what was drawn (a continue, a
 * job in the background), or when the report on screen no longer fits
 * (fitsonscreen).
 */
void startframes(drawstate *d, bool terminal, int linecount);
/* Notes a height that the terminal told (0 where unknown) between two
 * frames. */
void noteheight(drawstate *d, unsigned height);
/* Whether the report on screen is still where it was drawn on a terminal of
 * that width and height (0 where unknown), so that the next one can be drawn
 * over it: no row of it is wider, and the terminal has not been shorter
 * since. */
bool fitsonscreen(const drawstate *d, unsigned columns, unsigned height);
/* Notes the terminal's size told between two frames, and whether the next
 * report will be a copy (the report on screen no longer fits), or may be
 * one, as the terminal is narrower than when the report on screen was
 * drawn. */
bool becomescopy(drawstate *d, unsigned columns, unsigned height);
int drawframe(drawstate *d, char *frame, size_t size, const char *report,
	      size_t len, unsigned columns, unsigned height, bool afresh, bool last);

#endif
