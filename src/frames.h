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

/* Room for a report as it goes out: the cursor movement before it, the
 * spaces of its tabs and the erasing of each line's tail. */
enum { FRAMESIZE = REPORTSIZE + 128 };
/* Lines of a report on screen whose widths are kept, so that the rows it
 * takes at another width can be counted. */
enum { KEPTLINES = 8 };

struct drawstate {
	bool terminal;     /* otherwise a pipe or a file */
	bool drawn;        /* a report went out */
	int linecount;     /* lines of a report */
	unsigned columns;  /* the terminal's width when the last was drawn */
	int rows;          /* rows above the cursor's that the last one takes */
	size_t lines;      /* its lines, the unfinished last one included */
	size_t widths[KEPTLINES];  /* their printed widths, up to KEPTLINES */
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
 * On a terminal of the given width and height (0 where unknown) the
 * report's last newline is held back unless it is the last one, so that
 * the cursor waits at the end of its last line, and tabs go out as spaces.
 * The first report is its text.  A later one is drawn in place: from the
 * start of the cursor's row, up over the rows the report on screen takes
 * (no further than the terminal's top row), each line over the old one,
 * with the tail of each line that does not fill its last row erased and
 * everything below the last line erased; a report taller than the terminal
 * leaves out its first rows, so that it does not scroll.  It starts afresh
 * on the line below instead, without moving up, when afresh says that the
 * rows on screen are not known to be what was drawn (a continue, a job in
 * the background), or when the width changed and the report on screen
 * takes other rows at the new width than at the old.
 *
 * rows counts the rows from the report's first to the cursor's: each line
 * takes its printed width (escape sequences take no column, tabs are the
 * spaces to the next multiple of 8 of their line) over the terminal's,
 * rounded up, and at least one row, and a line that fills its last row
 * exactly takes no more; a width of 0 counts each line as one row.
 */
void startframes(drawstate *d, bool terminal, int linecount);
int drawframe(drawstate *d, char *frame, size_t size, const char *report,
	      size_t len, unsigned columns, unsigned height, bool afresh, bool last);

#endif
