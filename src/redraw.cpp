// SPDX-License-Identifier: ISC
/*
 * Drawing each report over the last.
 *
 * Into a pipe or a file a report is its text, and each one after the first
 * comes after a cursor-up of one line per report line, so that a terminal
 * that later shows the bytes draws it over the last.
 *
 * On a terminal the report's last newline is held back, so that an N-line
 * report takes N rows and the cursor waits at the end of its last line.  A
 * redraw goes back to the start of that row, up over the rows above it, and
 * erases everything below before the new report: whatever the old report or
 * anything typed meanwhile left there is gone, and nothing above the report
 * is touched.  Tabs go out as the spaces they would give, so that the rows a
 * line takes do not depend on a terminal's tab rule at its margin.  After a
 * stop and continue, or when the terminal changed its width, the rows on
 * screen are not what was drawn, so the held newline is given back and the
 * report starts afresh below: a copy above is better than a line of the
 * shell's drawn over.  The held newline is also given back however the run
 * ends.
 */
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
/* struct winsize and TIOCGWINSZ: <sys/ioctl.h> on Linux and the BSDs,
 * <termios.h> on Solaris and illumos. */
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "memglow.h"

/* The rows that a line of the given printed width takes; a line that fills
 * its last row exactly leaves the cursor there, with the wrap pending. */
static size_t linerows(size_t width, unsigned columns)
{
	return columns == 0 || width == 0 ? 1 : (width - 1) / columns + 1;
}

/* Where the escape sequence that starts at text[i] ends: ESC [, its
 * parameters and intermediates, up to a final byte from @ to ~; any other
 * escape is two bytes.  Never past the text's last byte. */
static size_t escapeend(const char *text, size_t len, size_t i)
{
	if (i + 1 >= len)
		return i;
	if (text[i + 1] != '[')
		return i + 1;
	for (i += 2; i < len; i++) {
		const unsigned char f = static_cast<unsigned char>(text[i]);
		if (f >= 0x40 && f <= 0x7e)
			return i;
	}
	return len - 1;
}

/* Appends n bytes, keeping room for a terminator. */
static bool put(char *buf, size_t size, size_t *len, const char *s, size_t n)
{
	if (n >= size - *len)
		return false;
	memcpy(buf + *len, s, n);
	*len += n;
	return true;
}

/*
 * Appends text with each tab as the spaces to the next multiple of 8 of the
 * printed column in its line, and counts the rows from the text's first,
 * written from the start of a row, to the row the cursor ends on: each line
 * takes its printed width (escape sequences take no column) over the
 * terminal's, rounded up, and at least one row; a line that fills its last
 * row exactly takes no more.  A width of 0 counts each line as one row.
 */
static bool puttext(char *buf, size_t size, size_t *len, const char *text, size_t n,
		    unsigned columns, size_t *rows)
{
	static const char spaces[] = "        ";
	size_t width = 0;
	size_t from = 0;

	*rows = 0;
	for (size_t i = 0; i < n; i++) {
		const unsigned char c = static_cast<unsigned char>(text[i]);
		if (c >= ' ') {
			width++;
		} else if (c == '\033') {
			i = escapeend(text, n, i);
		} else if (c == '\n') {
			*rows += linerows(width, columns);
			width = 0;
		} else if (c == '\t') {
			const size_t pad = 8 - width % 8;
			if (!put(buf, size, len, text + from, i - from) ||
			    !put(buf, size, len, spaces, pad))
				return false;
			width += pad;
			from = i + 1;
		}
		/* Other control characters take no column. */
	}
	/* An unfinished last line leaves the cursor on its last row. */
	*rows += linerows(width, columns) - 1;
	return put(buf, size, len, text + from, n - from);
}

/* Appends the cursor-up over rows, formatted only when the count changes. */
static bool putup(drawstate *d, char *buf, size_t size, size_t *len, int rows)
{
	if (rows != d->uprows) {
		const int k = snprintf(d->up, sizeof d->up, "\033[%iA", rows);
		if (k < 0 || static_cast<size_t>(k) >= sizeof d->up)
			return false;
		d->uplen = static_cast<size_t>(k);
		d->uprows = rows;
	}
	return put(buf, size, len, d->up, d->uplen);
}

void startframes(drawstate *d, bool terminal, int linecount)
{
	d->terminal = terminal;
	d->drawn = false;
	d->linecount = linecount;
	d->columns = 0;
	d->rows = 0;
	d->uprows = 0;
	d->uplen = 0;
}

int drawframe(drawstate *d, char *frame, size_t size, const char *report,
	      size_t len, unsigned columns, bool afresh, bool last)
{
	size_t n = 0;

	if (size == 0)
		return -1;
	if (!d->terminal) {
		if (d->drawn && !afresh && !putup(d, frame, size, &n, d->linecount))
			return -1;
		if (!put(frame, size, &n, report, len))
			return -1;
	} else {
		if (d->drawn && afresh) {
			if (!put(frame, size, &n, "\n", 1))
				return -1;
		} else if (d->drawn) {
			if (!put(frame, size, &n, "\r", 1) ||
			    (d->rows > 0 && !putup(d, frame, size, &n, d->rows)) ||
			    !put(frame, size, &n, "\033[J", 3))
				return -1;
		}
		const size_t keep = !last && len > 0 && report[len - 1] == '\n' ? len - 1 : len;
		size_t rows;
		if (!puttext(frame, size, &n, report, keep, columns, &rows))
			return -1;
		d->rows = rows > INT_MAX ? INT_MAX : static_cast<int>(rows);
		d->columns = columns;
	}
	d->drawn = true;
	frame[n] = '\0';
	return n > INT_MAX ? -1 : static_cast<int>(n);
}

/*
 * What the signals tell the drawing.  A continue ends a pause and makes the
 * next report start afresh; a resize only does the latter.  Neither fails a
 * write: their handlers restart it.  held says that the last report's
 * newline is held back, for the handlers of the signals that end a run.
 */
static volatile sig_atomic_t continued = 0;
static volatile sig_atomic_t resized = 0;
static volatile sig_atomic_t held = 0;

static void oncontinue(int)
{
	continued = 1;
}

static void onresize(int)
{
	resized = 1;
}

/* Gives the held newline back and ends the run by the same signal, as the
 * shell expects of an interrupted program. */
static void onend(int sig)
{
	if (held && write(STDOUT_FILENO, "\n", 1) < 0) {
	}
	raise(sig);
}

static void handle(int sig, void (*handler)(int), int flags)
{
	struct sigaction sa;
	memset(&sa, 0, sizeof sa);
	sa.sa_handler = handler;
	sa.sa_flags = flags;
	sigemptyset(&sa.sa_mask);
	sigaction(sig, &sa, nullptr);
}

/* Whether the signal is left to its default action: a signal the run was
 * started with ignored stays ignored. */
static bool defaulted(int sig)
{
	struct sigaction old;
	return sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_DFL;
}

void startdrawing(drawstate *d, bool terminal, int linecount, bool refreshing)
{
	startframes(d, terminal, linecount);
	if (!refreshing)
		return;
	handle(SIGCONT, oncontinue, SA_RESTART);
	if (!terminal)
		return;
	handle(SIGWINCH, onresize, SA_RESTART);
	static const int ending[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
	for (int sig : ending)
		if (defaulted(sig))
			handle(sig, onend, SA_RESETHAND);
}

/* The terminal's width in columns, or 0 where it is unknown. */
static unsigned termcolumns(void)
{
	struct winsize ws;
	if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0)
		return 0;
	return ws.ws_col;
}

int drawreport(drawstate *d, FILE *out, const char *report, size_t len, bool last)
{
	char frame[FRAMESIZE];
	const unsigned columns = d->terminal ? termcolumns() : 0;
	const bool afresh = continued || resized || (d->terminal && columns != d->columns);

	continued = 0;
	resized = 0;
	const int n = drawframe(d, frame, sizeof frame, report, len, columns, afresh, last);
	if (n < 0)
		return -1;
	held = d->terminal && !last;
	fwrite(frame, 1, static_cast<size_t>(n), out);
	return 0;
}

void enddrawing(FILE *out)
{
	if (held) {
		held = 0;
		fputc('\n', out);
	}
}

bool drawcontinued(void)
{
	return continued != 0;
}
