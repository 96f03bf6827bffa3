// SPDX-License-Identifier: ISC
/*
 * The terminal unit (terminal.cpp): it alone owns standard output while a
 * run draws its reports.  It knows whether the output is a terminal, its
 * size and whose foreground it is, writes each frame, and pauses between
 * reports; the signals that bear on that are signals.cpp's.
 *
 * What a signal does in each phase of a refreshing run on a terminal:
 *
 *   phase                  continue        resize          ending signal
 *   sampling, formatting   next frame      next frame is   ends the run at
 *                          starts afresh   built for it    once (1)
 *                          (4)
 *   writing, none out      the frame is built again        ends the run (1)
 *   writing, part out      the frame is finished, and the  the frame is
 *     or waiting for the   next one built for what came    finished (2), and
 *     terminal                                             ends the run (1)
 *   pausing                ends the pause once continues   ends the run at
 *                          and resizes stop for 0.2 s (3)  once (1)
 *   ending on a failure    nothing         nothing         stops the
 *                                                          newline (2), and
 *                                                          ends the run
 *
 * (1) by the same signal, the report on screen given its newline back
 *     first where that cannot block: the run is in the foreground and the
 *     terminal takes bytes now.
 * (2) only where that cannot block, as in (1).
 * (3) never after the pause was due; but a report that will be a copy, as
 *     the terminal is now narrower than a row on screen or has been
 *     shorter, or may be one, as it is narrower than when the report on
 *     screen was drawn, waits until the size has stayed put for 0.5 s, so
 *     that an edge dragged narrower leaves one whole copy.
 * (4) unless no stop (^Z, which the run notes and then takes) came since a
 *     report drawn afresh for a continue: runuser and su continue their
 *     child again after the shell's fg.
 * Into a pipe or a file only a continue (and a stop) is taken: the next
 * report goes out without the cursor-up, as (4) says.
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
