// SPDX-License-Identifier: ISC
/*
 * Standard output while a run draws its reports, and the signals that bear
 * on it.
 *
 * Into a pipe or a file each frame goes through standard output's buffer.
 * On a terminal a refreshing run writes its frames through a description of
 * the terminal of its own, opened without blocking, so that no write can
 * hang the run (a terminal stopped with ^S takes no bytes): it waits for the
 * terminal in pselect, where the signals it holds back come through, like
 * in its pauses.  Where it can have none (a pseudo-terminal's master, or
 * another user's terminal that is not the controlling one) it writes
 * through standard output, and asks first whether the terminal takes
 * bytes, so that it waits in the same place.  While a frame is written the
 * handlers only note what came, and the run acts on it where it stands, so
 * that it always knows how much of the frame went out; elsewhere a signal
 * that ends the run ends it in its handler.
 *
 * A job in the background never moves the cursor up: the shell may have
 * written below its report since.  Each of its reports starts afresh below
 * and ends with its newline, and the first one back in the foreground
 * starts afresh, which the terminal tells (bash's and zsh's fg send no
 * SIGCONT to a running job).  A continue starts afresh too: the shell wrote
 * below the report while the run was stopped.
 */
#include <cerrno>
#include <climits>
#include <csignal>
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
#include "terminal.h"

/* How long the terminal's size must stay put after a resize before the
 * report is drawn anew, in nanoseconds: an edge being dragged sends many. */
static const int64_t SETTLENS = 200000000;
/* The longest piece of a pause handed to pselect, in seconds: a 32-bit
 * time_t holds it. */
static const int64_t PAUSEPIECE = 100000000;

static const int ending[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

static volatile sig_atomic_t continued = 0;
static volatile sig_atomic_t resizes = 0;
static volatile sig_atomic_t endsig = 0;
/* Whether an ending signal ends the run in its handler: everywhere but
 * while a frame is written, where the run must know how much went out. */
static volatile sig_atomic_t atonce = 0;

static drawstate screen;
static bool onterminal = false;
static bool refreshing = false;
static int ttyfd = STDOUT_FILENO;
static bool blocking = false;  /* writes to ttyfd can block */
static bool behind = false;    /* the last frame was built in the background */
static sigset_t heldback;   /* the signals held back but while waiting */
static sigset_t waitmask;   /* the mask the run started with */
static bool ended[sizeof ending / sizeof ending[0]];  /* handled by us */
static pid_t group = 0;
static int seenresizes = 0;
static int builtresizes = 0;  /* resizes when the frame was built */

/* The frame being written (or the newline given back), how much of it went
 * out, and whether the report on screen holds its newline: every report of
 * a refreshing run on a terminal does, once it is all out. */
static char frame[FRAMESIZE];
static const char *pending = frame;
static size_t pendinglen = 0, pendingdone = 0;
static bool held = false;

static void oncontinue(int)
{
	continued = 1;
}

static void onresize(int)
{
	resizes = resizes + 1;
}

[[noreturn]] static void endnow(void);

static void onend(int sig)
{
	if (endsig == 0)
		endsig = sig;
	if (atonce)
		endnow();
}

static void handle(int sig, void (*handler)(int), int flags)
{
	struct sigaction sa;
	memset(&sa, 0, sizeof sa);
	sa.sa_handler = handler;
	sa.sa_flags = flags;
	sigemptyset(&sa.sa_mask);
	for (int e : ending)
		sigaddset(&sa.sa_mask, e);
	sigaction(sig, &sa, nullptr);
}

/* Whether the signal is left to its default action: a signal the run was
 * started with ignored stays ignored. */
static bool defaulted(int sig)
{
	struct sigaction old;
	return sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_DFL;
}

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

/* Where the run samples and formats: an ending signal ends it at once. */
static void actatonce(void)
{
	atonce = 1;
	sigprocmask(SIG_SETMASK, &waitmask, nullptr);
}

/* Where a frame is written: the signals are noted, and act only while the
 * run writes or waits. */
static void holdback(void)
{
	sigprocmask(SIG_BLOCK, &heldback, nullptr);
	atonce = 0;
}

void startoutput(int linecount, bool refresh)
{
	onterminal = isatty(STDOUT_FILENO) != 0;
	refreshing = refresh;
	startframes(&screen, onterminal, linecount);
	if (!refreshing)
		return;
	sigprocmask(SIG_SETMASK, nullptr, &waitmask);
	sigemptyset(&heldback);
	handle(SIGCONT, oncontinue, SA_RESTART);
	sigaddset(&heldback, SIGCONT);
	if (onterminal) {
		handle(SIGWINCH, onresize, SA_RESTART);
		sigaddset(&heldback, SIGWINCH);
		/* Without SA_RESTART: a write or a wait that an ending signal
		 * interrupts returns, and the run ends. */
		for (size_t i = 0; i < sizeof ending / sizeof ending[0]; i++) {
			ended[i] = defaulted(ending[i]);
			if (ended[i]) {
				handle(ending[i], onend, 0);
				sigaddset(&heldback, ending[i]);
			}
		}
		ttyfd = openterminal();
		blocking = (fcntl(ttyfd, F_GETFL) & O_NONBLOCK) == 0;
		group = getpgrp();
	}
	actatonce();
}

/* Whether the run is in its terminal's foreground process group; a
 * terminal without job control counts as the foreground. */
static bool foreground(void)
{
	const pid_t foregroup = tcgetpgrp(ttyfd);
	return foregroup < 0 || foregroup == group;
}

/* Back to the signals' default actions, and to the mask the run started
 * with: a signal held back acts now. */
static void defaults(void)
{
	for (size_t i = 0; i < sizeof ending / sizeof ending[0]; i++)
		if (ended[i])
			signal(ending[i], SIG_DFL);
	sigprocmask(SIG_SETMASK, &waitmask, nullptr);
}

/* Whether a descriptor takes bytes now; one in error does, and the write
 * tells the error. */
static bool takesbytes(int fd)
{
	struct pollfd p = {fd, POLLOUT, 0};
	return poll(&p, 1, 0) == 1;
}

/* Where the terminal takes bytes now and the run is in its foreground,
 * finishes a frame that has begun to go out and gives the held newline
 * back; a frame not begun is left out.  (The newline given back at the end
 * is one byte: it never goes out in part.)  Nothing here can block, and all
 * of it may be done in a signal handler. */
static void finishnow(void)
{
	if (foreground() && takesbytes(ttyfd)) {
		bool holds = held;
		if (pendingdone > 0) {
			while (pendingdone < pendinglen) {
				const ssize_t n = write(ttyfd, pending + pendingdone,
							pendinglen - pendingdone);
				if (n <= 0)
					break;
				pendingdone += static_cast<size_t>(n);
			}
			holds = pendingdone == pendinglen && screen.holds;
		}
		if (holds && write(ttyfd, "\n", 1) < 0) {
		}
	}
}

/* Ends the process by the ending signal that came first; they are held
 * back wherever this is called.  Another that comes meanwhile would be let
 * through with it, and some systems let pending signals through lowest
 * number first (a SIGINT before the SIGTERM raised; Linux lets a raised
 * one through first): the others are ignored while the first acts. */
[[noreturn]] static void raiseend(void)
{
	const int sig = endsig;
	for (size_t i = 0; i < sizeof ending / sizeof ending[0]; i++) {
		if (ended[i])
			signal(ending[i], ending[i] == sig ? SIG_DFL : SIG_IGN);
	}
	raise(sig);
	sigprocmask(SIG_SETMASK, &waitmask, nullptr);
	_exit(128 + sig);
}

/* Ends the run by the ending signal that came, finishing what can be. */
[[noreturn]] static void endnow(void)
{
	finishnow();
	raiseend();
}

enum { WRITTEN = 0, REBUILD = 1 };

/* Writes what is pending to the terminal, waiting where it takes no bytes
 * now.  An ending signal ends the run on the way or as it goes out, or,
 * while the run ends anyway (ending), only stops the writing.  WRITTEN;
 * REBUILD where the run waited (or was interrupted) before any of it went
 * out, since the terminal may have changed meanwhile; or -1 with errno. */
static int writepending(bool ending)
{
	while (pendingdone < pendinglen) {
		if (endsig != 0) {
			if (!ending)
				endnow();
			finishnow();
			return WRITTEN;
		}
		/* The ending signals come through while writing: a job in the
		 * background that the terminal stops (stty tostop) can still
		 * be ended. */
		sigprocmask(SIG_SETMASK, &waitmask, nullptr);
		/* A continue or a resize that came while the frame was built
		 * (the run may have been stopped there) leaves it stale: it is
		 * built again while none of it went out. */
		const bool stale = pendingdone == 0 && !ending &&
				   (continued != 0 || resizes != builtresizes);
		if (endsig != 0 || stale) {
			sigprocmask(SIG_BLOCK, &heldback, nullptr);
			if (endsig != 0)
				continue;
			return REBUILD;
		}
		ssize_t n = -1;
		int err = EAGAIN;
		if (!blocking || takesbytes(ttyfd)) {
			n = write(ttyfd, pending + pendingdone, pendinglen - pendingdone);
			err = errno;
		}
		sigprocmask(SIG_BLOCK, &heldback, nullptr);
		if (n > 0) {
			pendingdone += static_cast<size_t>(n);
			continue;
		}
		if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK)) {
			fd_set out;
			FD_ZERO(&out);
			FD_SET(ttyfd, &out);
			if (endsig == 0)
				pselect(ttyfd + 1, nullptr, &out, nullptr, nullptr, &waitmask);
		} else if (n == 0 || err != EINTR) {
			errno = n == 0 ? EIO : err;
			return -1;
		}
		if (pendingdone == 0 && !ending && endsig == 0)
			return REBUILD;
	}
	if (endsig != 0 && !ending)
		endnow();
	return WRITTEN;
}

/* Builds the frame for the report from the terminal as it is now; afresh
 * gathers what says that the rows on screen are not known. */
static int buildframe(const char *report, size_t len, bool last, bool *afresh)
{
	unsigned columns = 0, rows = 0;
	*afresh = *afresh || continued != 0;
	continued = 0;
	builtresizes = resizes;
	if (onterminal) {
		/* A report drawn in the background ends with its newline:
		 * the shell's prompt and what is typed go below it. */
		if (refreshing) {
			const bool back = !foreground();
			*afresh = *afresh || back || behind;
			behind = back;
			last = last || back;
		}
		struct winsize ws;
		if (ioctl(ttyfd, TIOCGWINSZ, &ws) == 0) {
			columns = ws.ws_col;
			rows = ws.ws_row;
		}
	}
	const int n = drawframe(&screen, frame, sizeof frame, report, len, columns, rows, *afresh,
				last);
	if (n < 0)
		errno = EMSGSIZE;
	return n;
}

int showreport(const char *report, size_t len, bool last)
{
	bool afresh = false;
	if (refreshing)
		holdback();
	if (!onterminal || !refreshing) {
		const int n = buildframe(report, len, last, &afresh);
		if (n < 0)
			return -1;
		fwrite(frame, 1, static_cast<size_t>(n), stdout);
		return 0;
	}
	/* A frame none of whose bytes went out is built again from the
	 * terminal as it is now: it may have been resized, or the run stopped
	 * and sent to the background, while the frame waited. */
	const drawstate before = screen;
	int status;
	do {
		screen = before;
		const int n = buildframe(report, len, last, &afresh);
		if (n < 0)
			return -1;
		pending = frame;
		pendinglen = static_cast<size_t>(n);
		pendingdone = 0;
		status = writepending(false);
	} while (status == REBUILD);
	held = screen.holds;
	pendinglen = pendingdone = 0;
	return status;
}

void pausefor(int64_t us)
{
	/* Nanoseconds left of the pause, and until a resize has settled. */
	int64_t left = us > INT64_MAX / 1000 ? INT64_MAX : us * 1000;
	int64_t settle = -1;

	for (;;) {
		/* A resize or a continue may have come while the report was
		 * written. */
		if (resizes != seenresizes) {
			seenresizes = resizes;
			settle = SETTLENS;
		}
		if (continued != 0)
			break;
		int64_t wait = settle >= 0 && settle < left ? settle : left;
		if (wait > PAUSEPIECE * 1000000000)
			wait = PAUSEPIECE * 1000000000;
		struct timespec ts, start, end;
		ts.tv_sec = static_cast<time_t>(wait / 1000000000);
		ts.tv_nsec = static_cast<long>(wait % 1000000000);
		clock_gettime(CLOCK_MONOTONIC, &start);
		const int rc = pselect(0, nullptr, nullptr, nullptr, &ts, &waitmask);
		/* Only the signals held back cut it short: a resize, which
		 * starts the settling again, a continue or an ending signal. */
		int64_t slept = wait;
		if (rc != 0) {
			clock_gettime(CLOCK_MONOTONIC, &end);
			slept = (static_cast<int64_t>(end.tv_sec) - start.tv_sec) * 1000000000 +
				(end.tv_nsec - start.tv_nsec);
		}
		left -= slept;
		if (settle >= 0)
			settle -= slept;
		if (endsig != 0)
			endnow();
		if (left <= 0 || settle == 0)
			break;
	}
	actatonce();
}

int endoutput(void)
{
	int status = 0;
	if (!refreshing)
		return 0;
	holdback();
	/* Only a report on a terminal holds its newline. */
	if (held) {
		pending = "\n";
		pendinglen = 1;
		pendingdone = 0;
		status = writepending(true);
	}
	endsignals();
	return status;
}

void endsignals(void)
{
	if (!refreshing)
		return;
	if (endsig != 0)
		raiseend();
	defaults();
}
