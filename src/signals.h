// SPDX-License-Identifier: ISC
/*
 * A refreshing run's signals (signals.cpp): handlers that count a continue
 * and a resize and record the first signal that ends the run, and the end of
 * the process by that signal.
 *
 * An ending signal (interrupt, terminate, hang-up, quit; on a terminal, and
 * unless the run was started with it ignored) ends the run in its handler,
 * which first calls the finish function the run gave (so does a stop):
 * everywhere but where
 * the run defers their action (while a frame is made and written, so that
 * the run knows how much of it went out).  No signal is blocked but around
 * a wait: the run blocks them while it looks at what came, and the wait
 * lets them through.
 */
#ifndef MEMGLOW_SIGNALS_H
#define MEMGLOW_SIGNALS_H

#include <csignal>

#include "rules.h"


/* Takes over the continue and the stop, and on a terminal the resize and
 * the ending signals.  finish, told how the run leaves the terminal, must
 * be async-signal-safe; for a stop it keeps errno. */
void takesignals(bool onterminal, void (*finish)(leaving));
/* What came since the signals were taken over. */
signalsseen seensignals(void);
/* How the ending signal that came first leaves the terminal. */
leaving endingleaves(void);
/* From here an ending signal's action is deferred (it is only counted), or
 * it acts at once again. */
void defersignals(void);
void actonsignals(void);
/* Blocks the signals until the wait, which lets them through with
 * waitmask(); then unblocks them. */
void blocksignals(void);
void unblocksignals(void);
const sigset_t *waitmask(void);
/* Ends the process by the ending signal that came. */
[[noreturn]] void endbysignal(void);
/* Gives the signals their default actions back; an ending signal that came
 * ends the process here. */
void givesignalsback(void);

#endif
