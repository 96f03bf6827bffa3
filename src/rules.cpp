// SPDX-License-Identifier: ISC
/*
 * The refresh rules: what a refreshing run does about what came.  No system
 * call and no signal here: the terminal unit looks, and asks.
 */
#include <csignal>

#include "rules.h"

runstate startrun(const signalsseen &now)
{
	runstate st = {};
	st.built = now;
	return st;
}

/* Only while a frame goes out (or the newline given back at the end) is an
 * ending signal deferred: the run must know how much of it went out. */
bool actsatonce(runphase phase)
{
	return phase != WRITING;
}

drawchoice choosedraw(runstate *st, const signalsseen &now, bool onterminal, bool foreground,
		      bool afresh, bool last)
{
	/* A continue starts afresh: the shell wrote below the report while
	 * the run was stopped.  One that comes with no stop since a report
	 * drawn afresh for a continue changes nothing on screen (runuser and
	 * su continue their child again after the shell's fg).  A continue
	 * stays counted across a frame built again. */
	st->continued = st->continued ||
			(now.continues != st->built.continues &&
			 (now.stops != st->built.stops || !st->aftercontinue));
	st->built = now;
	drawchoice c = {afresh || st->continued, last};
	if (onterminal) {
		/* A report drawn in the background ends with its newline: the
		 * shell's prompt and what is typed go below it. */
		const bool back = !foreground;
		c.afresh = c.afresh || back || st->behind;
		c.last = c.last || back;
		st->behind = back;
	}
	return c;
}

void framedone(runstate *st, bool holdsnewline)
{
	st->heldnewline = holdsnewline;
	st->aftercontinue = st->continued;
	st->continued = false;
}

writestepresult writestep(const signalsseen &now, const signalsseen &built, bool frame,
			  size_t done, bool blocked)
{
	if (now.endsig != 0)
		return ENDSIGNAL;
	if (frame && done == 0 &&
	    (blocked || now.continues != built.continues || now.resizes != built.resizes))
		return STALE;
	return WRITEON;
}

bool waits(const signalsseen &seen, const signalsseen &now)
{
	return now.endsig == seen.endsig && now.continues == seen.continues &&
	       now.resizes == seen.resizes;
}

bool maygiveback(bool foreground, bool takesbytes)
{
	return foreground && takesbytes;
}

bool givesback(const runstate &st, bool begun, bool whole, bool frameholds)
{
	return begun ? whole && frameholds : st.heldnewline;
}

leaving leavingby(int sig, bool byterminal)
{
	return sig == SIGINT && byterminal ? INTERRUPTED : ENDED;
}

bool newlinefor(leaving how, bool shellsjob)
{
	return how != INTERRUPTED || !shellsjob;
}

pauseclock startpause(int64_t start, int64_t us, const signalsseen &built)
{
	pauseclock p;
	p.due = us > (INT64_MAX - start) / 1000 ? INT64_MAX : start + us * 1000;
	p.end = p.due;
	/* Whatever came since the report was built counts. */
	p.seen = built;
	return p;
}

bool moved(const pauseclock &p, const signalsseen &now)
{
	return now.continues != p.seen.continues || now.resizes != p.seen.resizes;
}

void settle(pauseclock *p, const signalsseen &now, int64_t at, bool copy)
{
	p->seen = now;
	const int64_t settled = at + (copy ? COPYSETTLENS : SETTLENS);
	p->end = copy || settled < p->due ? settled : p->due;
}

static int64_t left(const pauseclock &p, int64_t at)
{
	return p.end > at ? p.end - at : 0;
}

int64_t nextwait(const pauseclock &p, int64_t at, bool first)
{
	const int64_t l = left(p, at);
	if (l == 0 && !first)
		return -1;
	return l < PAUSEPIECENS ? l : PAUSEPIECENS;
}

bool pauseover(const pauseclock &p, int64_t at, int64_t wait)
{
	return wait == left(p, at);
}
