// SPDX-License-Identifier: ISC
/*
 * Standard output while a run draws its reports.
 *
 * Into a pipe or a file each frame goes through standard output's buffer.
 * On a terminal a refreshing run writes its frames through a description of
 * the terminal of its own, opened without blocking, so that no write can
 * hang the run (a terminal stopped with ^S takes no bytes): it waits for the
 * terminal in pselect, where the signals come through, like in its pauses.
 * Where it can have none (a pseudo-terminal's master, or another user's
 * terminal that is not the controlling one) it writes through standard
 * output, and asks first whether the terminal takes bytes, so that it waits
 * in the same place.  From the making of a frame until it is all out the
 * ending signals' action is deferred: the run acts on them where it stands,
 * so that it always knows how much of the frame went out.
 *
 * What to draw and when is the refresh rules' (rules.h); this unit looks at
 * the terminal (its size, and whose foreground it is: bash's and zsh's fg
 * send no SIGCONT to a running job) and asks them.
 */
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/select.h>
/* struct winsize and TIOCGWINSZ: <sys/ioctl.h> on Linux and the BSDs,
 * <termios.h> on Solaris and illumos. */
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "frames.h"
#include "rules.h"
#include "session.h"
#include "signals.h"
#include "terminal.h"

/* The run's output.  The ending signals' and the stop's handlers read it,
 * and the stop's gives the held newline back (finishnow), only where the
 * run acts on them at once, so never while the run changes it. */
struct output {
	bool onterminal;
	bool refreshing;
	int fd;            /* where frames go on a terminal */
	bool blocking;     /* writes to fd can block */
	pid_t group;
	pid_t parent;      /* at the start */
	bool shellsjob;    /* a job of its own, of its session's leader */
	drawstate screen;
	runstate run;
	/* The frame being written (or the newline given back), and how much
	 * of it went out. */
	char frame[FRAMESIZE];
	const char *pending;
	size_t pendinglen, pendingdone;
};

static output out;

/* A description of standard output's terminal of our own, that does not
 * block, numbered above standard error so that a stream closed at the start
 * stays closed; standard output itself where there is none, or where
 * opening its name again would make another terminal (a pseudo-terminal's
 * master names the cloning device). */
static int openterminal(void)
{
	/* O_NOCTTY: on System V systems a session leader without a
	 * controlling terminal (setsid memglow >/dev/ttyS0) would take it as
	 * its own, and get its ^C and hang-up.  Linux gives it to none opened
	 * for writing only. */
	const int flags = O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
	char path[256];
	if (ptsname(STDOUT_FILENO) != nullptr)
		return STDOUT_FILENO;
	/* The C library finds the name from the device standard output is
	 * open on, which stays open: the name can only lead back to it.
	 * Another user's terminal (after su) refuses its name, but where it
	 * is the controlling terminal /dev/tty opens it for anyone. */
	int opened = ttyname_r(STDOUT_FILENO, path, sizeof path) == 0 ? open(path, flags) : -1;
	if (opened < 0 && tcgetsid(STDOUT_FILENO) >= 0)
		opened = open("/dev/tty", flags);
	if (opened < 0)
		return STDOUT_FILENO;
	const int fd = opened > STDERR_FILENO ? opened : fcntl(opened, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
	if (fd != opened)
		close(opened);
	/* pselect waits on it, so it must fit an fd_set. */
	if (fd >= FD_SETSIZE) {
		close(fd);
		return STDOUT_FILENO;
	}
	return fd < 0 ? STDOUT_FILENO : fd;
}

/* Whether the run is in its terminal's foreground process group; a
 * terminal without job control, or not the controlling one, counts as the
 * foreground.  With leftbehind, a run on a terminal that is not its
 * controlling one ends there where nobody can reach it any more. */
static bool foreground(bool leftbehind = false)
{
	const pid_t foregroup = tcgetpgrp(out.fd);
	if (foregroup < 0 && leftbehind)
		endifleftbehind(out.parent);
	return foregroup < 0 || foregroup == out.group;
}

/* The terminal's width and height, 0 where unknown. */
static void terminalsize(unsigned *columns, unsigned *rows)
{
	struct winsize ws;
	*columns = *rows = 0;
	if (ioctl(out.fd, TIOCGWINSZ, &ws) == 0) {
		*columns = ws.ws_col;
		*rows = ws.ws_row;
	}
}

/* Whether a descriptor takes bytes now; one in error does, and the write
 * tells the error. */
static bool takesbytes(int fd)
{
	struct pollfd p = {fd, POLLOUT, 0};
	return poll(&p, 1, 0) == 1;
}

/* Waits at most ENDWAITMS for the terminal to take bytes; whether it does.
 * Can be done in a signal handler. */
static bool takesbytessoon(void)
{
	struct pollfd p = {out.fd, POLLOUT, 0};
	return poll(&p, 1, ENDWAITMS) == 1;
}

/* Writes what is pending as far as the terminal takes it within a few short
 * waits.  Can be done in a signal handler. */
static void writesoon(void)
{
	for (int full = 0; out.pendingdone < out.pendinglen && full < 3 && takesbytessoon();) {
		const ssize_t n = write(out.fd, out.pending + out.pendingdone,
					out.pendinglen - out.pendingdone);
		if (n > 0)
			out.pendingdone += static_cast<size_t>(n);
		else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
			return;
		else
			full++;
	}
}

/* Where the run is in its terminal's foreground and the terminal takes
 * bytes within a short wait, finishes a frame that has begun to go out and
 * gives the held newline back, as the run leaves the terminal by how; a
 * frame not begun is left out.  Nothing here can hold the run for long, and
 * all of it may be done in a signal handler. */
static void finishnow(leaving how)
{
	const bool begun = out.pendingdone > 0;
	/* Nothing to finish: no wait (a stop into a pipe comes here too). */
	if (!begun && !out.run.heldnewline)
		return;
	const int err = errno;
	if (!maygiveback(foreground(), takesbytessoon())) {
		errno = err;
		return;
	}
	if (begun)
		writesoon();
	if (givesback(out.run, begun, out.pendingdone == out.pendinglen, out.screen.holds) &&
	    newlinefor(how, out.shellsjob)) {
		out.pending = "\n";
		out.pendinglen = 1;
		out.pendingdone = 0;
		writesoon();
		/* At a stop the run goes on from here, with its newline out. */
		if (out.pendingdone == 1)
			out.run.heldnewline = out.screen.holds = false;
		out.pendinglen = out.pendingdone = 0;
	}
	errno = err;
}

void startoutput(int linecount, bool refreshing)
{
	out.onterminal = isatty(STDOUT_FILENO) != 0;
	out.refreshing = refreshing;
	out.fd = STDOUT_FILENO;
	startframes(&out.screen, out.onterminal, linecount);
	if (!refreshing)
		return;
	if (out.onterminal) {
		out.fd = openterminal();
		out.blocking = (fcntl(out.fd, F_GETFL) & O_NONBLOCK) == 0;
		out.group = getpgrp();
		out.parent = getppid();
		out.shellsjob = out.group == getpid() && out.parent == getsid(0);
	}
	takesignals(out.onterminal, finishnow);
	out.run = startrun(seensignals());
}

/* Ending signals act at once in that phase, or are deferred. */
static void enter(runphase phase)
{
	if (actsatonce(phase))
		actonsignals();
	else
		defersignals();
}

/* Waits until the terminal takes bytes, or something comes that is not in
 * seen. */
static void waitforterminal(const signalsseen &seen)
{
	fd_set w;
	FD_ZERO(&w);
	FD_SET(out.fd, &w);
	blocksignals();
	if (waits(seen, seensignals()))
		pselect(out.fd + 1, nullptr, &w, nullptr, nullptr, waitmask());
	unblocksignals();
}

enum writeresult { WROTE, STALEFRAME, SIGNALLED, FAILED };

/*
 * Writes what is pending to the terminal, waiting where it takes no bytes
 * now.  WROTE; SIGNALLED where an ending signal came; FAILED with errno; or
 * STALEFRAME for a frame to be built again (writestep).
 */
static writeresult writeout(bool frame)
{
	bool blocked = false;
	while (out.pendingdone < out.pendinglen) {
		const signalsseen s = seensignals();
		const writestepresult step = writestep(s, out.run.built, frame, out.pendingdone, blocked);
		if (step == ENDSIGNAL)
			return SIGNALLED;
		if (step == STALE)
			return STALEFRAME;
		ssize_t n = -1;
		int err = EAGAIN;
		if (!out.blocking || takesbytes(out.fd)) {
			n = write(out.fd, out.pending + out.pendingdone, out.pendinglen - out.pendingdone);
			err = errno;
		}
		if (n > 0) {
			out.pendingdone += static_cast<size_t>(n);
			continue;
		}
		if (n == 0 || (err != EAGAIN && err != EWOULDBLOCK && err != EINTR)) {
			errno = n == 0 ? EIO : err;
			return FAILED;
		}
		if (err != EINTR)
			waitforterminal(s);
		blocked = true;
	}
	return WROTE;
}

/* Builds the frame for the report from the terminal as it is now; afresh
 * gathers what says that the rows on screen are not known. */
static int buildframe(const char *report, size_t len, bool last, bool *afresh)
{
	const bool refreshonterminal = out.onterminal && out.refreshing;
	const drawchoice c = choosedraw(&out.run, seensignals(), refreshonterminal,
					refreshonterminal && foreground(true), *afresh, last);
	*afresh = c.afresh;
	unsigned columns = 0, rows = 0;
	if (out.onterminal)
		terminalsize(&columns, &rows);
	const int n = drawframe(&out.screen, out.frame, sizeof out.frame, report, len, columns, rows,
				c.afresh, c.last);
	if (n < 0)
		errno = EMSGSIZE;
	return n;
}

/* Ends the run by the ending signal that came, finishing what can be;
 * another that comes meanwhile finds it done. */
[[noreturn]] static void endnow(void)
{
	enter(WRITING);
	finishnow(endingleaves());
	endbysignal();
}

int showreport(const char *report, size_t len, bool last)
{
	bool afresh = false;
	if (!out.onterminal || !out.refreshing) {
		const int n = buildframe(report, len, last, &afresh);
		if (n < 0)
			return -1;
		fwrite(out.frame, 1, static_cast<size_t>(n), stdout);
		framedone(&out.run, false);
		return 0;
	}
	enter(WRITING);
	/* A frame none of whose bytes went out is built again from the
	 * terminal as it is now: it may have been resized, or the run stopped
	 * and sent to the background, while the frame waited. */
	const drawstate before = out.screen;
	writeresult r;
	do {
		out.screen = before;
		const int n = buildframe(report, len, last, &afresh);
		if (n < 0) {
			enter(SAMPLING);
			return -1;
		}
		out.pending = out.frame;
		out.pendinglen = static_cast<size_t>(n);
		out.pendingdone = 0;
		r = writeout(true);
	} while (r == STALEFRAME);
	if (r == SIGNALLED)
		endnow();
	const int err = errno;
	framedone(&out.run, out.screen.holds);
	out.pendinglen = out.pendingdone = 0;
	enter(SAMPLING);
	/* One that came after the write's last look. */
	if (seensignals().endsig != 0)
		endnow();
	errno = err;
	return r == WROTE ? 0 : -1;
}

static int64_t monotonic(void)
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

/* Whether the next report will (or may) be a copy, at the terminal's size
 * now (becomescopy). */
static bool nextiscopy(void)
{
	unsigned columns, rows;
	if (!out.onterminal)
		return false;
	terminalsize(&columns, &rows);
	return becomescopy(&out.screen, columns, rows);
}

void pausefor(int64_t us)
{
	int64_t at = monotonic();
	pauseclock p = startpause(at, us, out.run.built);

	/* An ending signal ends the run in here. */
	blocksignals();
	for (bool first = true;; first = false) {
		const signalsseen s = seensignals();
		if (moved(p, s))
			settle(&p, s, at, nextiscopy());
		const int64_t wait = nextwait(p, at, first);
		if (wait < 0)
			break;
		struct timespec ts;
		ts.tv_sec = static_cast<time_t>(wait / 1000000000);
		ts.tv_nsec = static_cast<long>(wait % 1000000000);
		if (pselect(0, nullptr, nullptr, nullptr, &ts, waitmask()) == 0 && pauseover(p, at, wait))
			break;
		at = monotonic();
	}
	unblocksignals();
}

int endoutput(void)
{
	if (!out.refreshing)
		return 0;
	int status = 0;
	enter(WRITING);
	/* Only a report on a terminal holds its newline. */
	if (out.run.heldnewline) {
		out.pending = "\n";
		out.pendinglen = 1;
		out.pendingdone = 0;
		const writeresult r = writeout(false);
		if (r == SIGNALLED)
			finishnow(endingleaves());
		else if (r == FAILED)
			status = -1;
		out.run.heldnewline = false;
		out.pendinglen = out.pendingdone = 0;
	}
	const int err = errno;
	givesignalsback();
	errno = err;
	return status;
}

void endsignals(void)
{
	givesignalsback();
}
