// SPDX-License-Identifier: ISC
/*
 * The terminal unit (terminal.cpp): it alone owns standard output while a
 * run draws its reports, and the process's signals.  It knows whether the
 * output is a terminal, its size and whose foreground it is, writes each
 * frame, and pauses between reports.
 *
 * In a refreshing run the signals that bear on drawing are held back but
 * while the run waits (pauses, or waits for a terminal that takes no bytes)
 * and while it writes to a terminal: a continue, a resize and, on a
 * terminal, the signals that end a run (interrupt, terminate, hang-up,
 * quit; unless the run was started with them ignored).  An ending signal
 * ends the run at once, by the same signal, wherever it comes: the report
 * being written is finished and the held newline given back first only
 * where that cannot block.
 */
#ifndef MEMGLOW_TERMINAL_H
#define MEMGLOW_TERMINAL_H

#include <cstddef>
#include <cstdint>

/* Starts a run's output to standard output, of reports of linecount lines;
 * a refreshing run also takes over the signals. */
void startoutput(int linecount, bool refreshing);
/* Draws a report (whole lines) over the last; last says that the run ends
 * with it.  0, or -1 when it does not fit in a frame (errno EMSGSIZE) or
 * cannot be written (errno says why).  Into a pipe or a file it goes
 * through standard output's buffer, which the caller flushes. */
int showreport(const char *report, size_t len, bool last);
/* A refreshing run's pause of us microseconds, less when the run is
 * continued after a stop (at once) or the terminal was resized (once no
 * resize came for a short while). */
void pausefor(int64_t us);
/* Ends a refreshing run's drawing before its failure is reported: gives the
 * held newline back, and the signals their default actions (as
 * endsignals), so that an ending signal that came meanwhile ends the
 * process here, and one that comes while the failure is reported acts at
 * once.  -1 with errno when the newline cannot be written. */
int endoutput(void);
/* Gives the signals back their default actions; an ending signal that came
 * ends the process here, by the same signal. */
void endsignals(void);

#endif
