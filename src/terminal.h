// SPDX-License-Identifier: ISC
/*
 * The terminal unit (terminal.cpp): it alone owns standard output while a
 * run draws its reports.  It knows whether the output is a terminal, its
 * size and whose foreground it is, writes each frame, and pauses between
 * reports; the signals that bear on that are signals.cpp's.
 *
 * What it does about each signal in each phase of a run is the refresh
 * rules' (rules.h), with their table.
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
/* A refreshing run's pause of us microseconds, or less, as above. */
void pausefor(int64_t us);
/* Ends a refreshing run's drawing before its failure is reported: gives the
 * held newline back, and the signals their default actions (as
 * endsignals).  -1 with errno when the newline cannot be written. */
int endoutput(void);
/* Gives the signals back their default actions; an ending signal that came
 * ends the process here, by the same signal. */
void endsignals(void);

#endif
