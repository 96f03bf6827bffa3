// SPDX-License-Identifier: ISC
/*
 * The refresh rules (rules.cpp): every decision a refreshing run takes
 * about what came (continues, stops, resizes, an ending signal), as pure
 * functions of the run's state, the terminal's size, whether the run is in
 * the foreground and the clock.  The terminal unit (terminal.cpp) makes the
 * system calls and asks these; the signals' handlers (signals.cpp) only
 * count what came.
 *
 * What a signal does in each phase of a refreshing run on a terminal, and
 * the function that says so:
 *
 *   phase                  continue        resize          ending signal
 *   sampling, formatting   next frame      next frame is   ends the run at
 *                          starts afresh   built for it    once (1)
 *                          (4)             (choosedraw)    (actsatonce)
 *                          (choosedraw)
 *   writing, none out      the frame is built again        ends the run (1)
 *                          (writestep)                     (writestep)
 *   writing, part out      the frame is finished, and the  the frame is
 *     or waiting for the   next one built for what came    finished (2), and
 *     terminal             (writestep, waits)              ends the run (1)
 *                                                          (writestep,
 *                                                          givesback)
 *   pausing                ends the pause once continues   ends the run at
 *                          and resizes stop for 0.2 s (3)  once (1)
 *                          (settle, nextwait)              (actsatonce)
 *   after a failure        nothing         nothing         stops the
 *                                                          newline (2), and
 *                                                          ends the run
 *                                                          (writestep,
 *                                                          givesback)
 *
 * (1) by the same signal, the report on screen given its newline back
 *     first where that cannot hold the run: the run is in the foreground
 *     and the terminal takes bytes within ENDWAITMS (maygiveback,
 *     givesback); but not after a ^C to a shell's own job (newlinefor).
 * (2) only where that cannot hold the run, as in (1).
 * (3) never after the pause was due; but a report that will be a copy, as
 *     the terminal is now narrower than a row on screen or has been
 *     shorter, or may be one, as it is narrower than when the report on
 *     screen was drawn, waits until the size has stayed put for 0.5 s, so
 *     that an edge dragged narrower leaves one whole copy.
 * (4) unless no stop (^Z, which the run counts and then takes) came since
 *     a report drawn afresh for a continue: runuser and su continue their
 *     child again after the shell's fg.
 * Into a pipe or a file only a continue (and a stop) is taken: the next
 * report goes out without the cursor-up, as (4) says.
 *
 * A stop (^Z) in any phase but writing gives the report on screen its
 * newline back first, as in (1) (newlinefor).
 *
 * The shells' lines after the report, with the newline held back, are what
 * newlinefor is for: after a stop bash and zsh start their job line on a
 * line of their own, dash and mksh write it on the report's last row; after
 * a ^C that ended their job all four end the line themselves; after a kill
 * (SIGTERM, SIGHUP) all four write their message ("Terminated", "zsh:
 * terminated") on that row.  Others write on that row after a ^C too
 * (make's "Interrupt", a script's trap, a Python traceback), so only a run
 * that is a job of its session's leader, a shell with job control, leaves
 * the newline to it.
 *
 * A job in the background never moves the cursor up: the shell may have
 * written below its report since.  Each of its reports starts afresh below
 * and ends with its newline, and the first one back in the foreground
 * starts afresh.
 */
#ifndef MEMGLOW_RULES_H
#define MEMGLOW_RULES_H

#include <cstddef>
#include <cstdint>

/* What came since the signals were taken over, as counts. */
struct signalsseen {
	int continues;
	int stops;    /* by the terminal's stop (^Z), as the run takes it */
	int resizes;
	int endsig;   /* the ending signal that came first, or 0 */
};

/* What the rules keep of a run from one frame to the next. */
struct runstate {
	bool continued;      /* the frame starts afresh for a continue */
	bool aftercontinue;  /* so did the report on screen */
	bool behind;         /* the last frame was built in the background */
	bool heldnewline;    /* the report on screen holds its newline back */
	signalsseen built;   /* what had come when the last frame was built */
};

/* How the frame about to be built is drawn. */
struct drawchoice {
	bool afresh;  /* below, without moving up over the report on screen */
	bool last;    /* with its newline: nothing is to be drawn over it */
};

/* The phases of a run, as the table above names them. */
enum runphase { SAMPLING, WRITING, PAUSING, AFTERFAILURE };

/* What a write of a frame (or of the newline given back) does next. */
enum writestepresult { WRITEON, STALE, ENDSIGNAL };

/* What takes the terminal from a run that holds its newline back: a stop,
 * an interrupt that the terminal sent (^C), or any other ending signal. */
enum leaving { STOPPED, INTERRUPTED, ENDED };

/* A pause: when it is due, when it ends, and what had come when it last
 * looked. */
struct pauseclock {
	int64_t due;
	int64_t end;
	signalsseen seen;
};

/* The settling after a continue or a resize, in nanoseconds: an edge being
 * dragged sends many resizes, and some programs continue their child twice.
 * Where the report will be a copy anyway, longer: a multiplexer tells the
 * size up to 0.3 s late while an edge is dragged. */
enum : int64_t { SETTLENS = 200000000, COPYSETTLENS = 500000000 };
/* The longest a run that ends or stops waits for the terminal to take its
 * last bytes, in milliseconds: a terminal read late (a busy multiplexer)
 * still gets the newline, one stopped with ^S does not hold the run. */
enum { ENDWAITMS = 100 };
/* The longest piece of a pause handed to one wait, in nanoseconds: a
 * 32-bit time_t holds its seconds. */
enum : int64_t { PAUSEPIECENS = INT64_C(100000000) * 1000000000 };

/* A run's state at its start, with what had come by then. */
runstate startrun(const signalsseen &now);
/* Whether an ending signal ends the run in its handler in that phase, or is
 * deferred until the run reaches a point where it knows what went out. */
bool actsatonce(runphase phase);
/* How the next frame is drawn, now that now has come.  onterminal: a
 * refreshing run on a terminal, in the foreground or not.  afresh: an
 * earlier build of this frame was to start afresh.  last: the run ends
 * with it.  Records the frame as built in st. */
drawchoice choosedraw(runstate *st, const signalsseen &now, bool onterminal, bool foreground,
		      bool afresh, bool last);
/* After a frame went out whole (or failed), holding its newline or not. */
void framedone(runstate *st, bool holdsnewline);
/* Whether a write goes on, with done bytes of it out: an ending signal
 * stops it; a frame none of which went out is stale (to be built again
 * from the terminal as it is now) once a continue or a resize came since it
 * was built, or once a write of it did not go out (blocked), as a ^S on a
 * terminal that sends no resize may hide one. */
writestepresult writestep(const signalsseen &now, const signalsseen &built, bool frame,
			  size_t done, bool blocked);
/* Whether a wait for the terminal that looked at seen may start, now that
 * now has come: not once anything it stops for came. */
bool waits(const signalsseen &seen, const signalsseen &now);
/* Whether the run may finish the frame that is out in part and give the
 * newline back now: only in the foreground, and where the terminal takes
 * bytes within ENDWAITMS. */
bool maygiveback(bool foreground, bool takesbytes);
/* Whether the newline is given back as the run ends: the frame's own when
 * it began to go out (begun) and went out whole, else the report on
 * screen's. */
bool givesback(const runstate &st, bool begun, bool whole, bool frameholds);
/* Whether the newline held back is given back as the run leaves the
 * terminal so, lest what comes next be glued to the report: shellsjob says
 * that the run is a job of its own whose parent leads its session. */
bool newlinefor(leaving how, bool shellsjob);
/* How an ending signal sig leaves the terminal; byterminal: the terminal
 * sent it (^C), not a process. */
leaving leavingby(int sig, bool byterminal);
/* A pause of us microseconds from start (nanoseconds on the clock), with
 * what had come when the report was built. */
pauseclock startpause(int64_t start, int64_t us, const signalsseen &built);
/* Whether a continue or a resize came since the pause last looked. */
bool moved(const pauseclock &p, const signalsseen &now);
/* The pause once one came, at at: it ends when the size has stayed put for
 * the settling, never after it was due; a report that will be a copy
 * (copy) waits out the longer settling, even past due. */
void settle(pauseclock *p, const signalsseen &now, int64_t at, bool copy);
/* How long the next wait of the pause is at at, or -1 where the pause is
 * over; the first wait always happens, even of no time, so that what came
 * gets through. */
int64_t nextwait(const pauseclock &p, int64_t at, bool first);
/* Whether a wait of wait nanoseconds that timed out at at ended the pause. */
bool pauseover(const pauseclock &p, int64_t at, int64_t wait);

#endif
