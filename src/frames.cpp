// SPDX-License-Identifier: ISC
/*
 * Drawing each report over the last, as frames of bytes.
 *
 * On a terminal the report's last newline is held back, so that an N-line
 * report takes N rows and the cursor waits at the end of its last line.  A
 * redraw goes back to the start of that row and up over the rows above it,
 * and then writes each line over the old one.  It never erases from the
 * report's first row down: where that row is the terminal's top-left
 * corner, terminal multiplexers take such an erase for a cleared screen and
 * push the whole screen into their history.  Instead each line that does
 * not fill its last row erases its own tail, and the last line erases
 * everything below it: the tails of longer old lines, old rows, anything
 * typed meanwhile.  Nothing above the report is touched.  Tabs go out as
 * the spaces they would give, so that the rows a line takes do not depend
 * on a terminal's tab rule at its margin.
 */
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "frames.h"

/* A frame being filled; once something does not fit, ok stays false. */
struct frameout {
	char *buf;
	size_t size;
	size_t len;
	bool ok;
};

/* Appends n bytes, keeping room for a terminator. */
static void put(frameout *o, const char *s, size_t n)
{
	if (!o->ok || n >= o->size - o->len) {
		o->ok = false;
		return;
	}
	memcpy(o->buf + o->len, s, n);
	o->len += n;
}

static void putch(frameout *o, char c)
{
	if (!o->ok || o->len + 1 >= o->size) {
		o->ok = false;
		return;
	}
	o->buf[o->len++] = c;
}

/* Puts n bytes in at offset at, moving what follows. */
static void insert(frameout *o, size_t at, const char *s, size_t n)
{
	if (!o->ok || n >= o->size - o->len) {
		o->ok = false;
		return;
	}
	memmove(o->buf + at + n, o->buf + at, o->len - at);
	memcpy(o->buf + at, s, n);
	o->len += n;
}

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

/* Whether a line of the printed width fills its last row exactly. */
static bool fills(size_t width, unsigned columns)
{
	return columns != 0 && width != 0 && width % columns == 0;
}

/* Appends the n characters that follow column width of a line that starts
 * on row, but for those on rows before skip; keeps where the last one went
 * in *lastchar.  A character at column w of its line is on the line's row
 * w / columns. */
static void putchars(frameout *o, const char *s, size_t n, size_t width, size_t row,
		     unsigned columns, size_t skip, size_t *lastchar)
{
	if (row + (columns == 0 ? 0 : width / columns) >= skip) {
		put(o, s, n);
		*lastchar = o->len - 1;
		return;
	}
	for (size_t k = 0; k < n; k++) {
		if (row + (columns == 0 ? 0 : (width + k) / columns) >= skip) {
			*lastchar = o->len;
			putch(o, s[k]);
		}
	}
}

/* The printed width of the text from i up to the next tab or line end,
 * which is where *end is set; *last is where its last printed character is,
 * or SIZE_MAX where it has none.  Escape sequences and other control
 * characters take no column. */
static size_t spanwidth(const char *text, size_t n, size_t i, size_t *end, size_t *last)
{
	size_t width = 0, lastprinted = SIZE_MAX;
	while (i < n) {
		const unsigned char c = static_cast<unsigned char>(text[i]);
		if (c >= ' ') {
			const size_t from = i;
			while (++i < n && static_cast<unsigned char>(text[i]) >= ' ') {
			}
			width += i - from;
			lastprinted = i - 1;
			continue;
		}
		if (c == '\t' || c == '\n')
			break;
		if (c == '\033')
			i = escapeend(text, n, i);
		i++;
	}
	*end = i;
	*last = lastprinted;
	return width;
}

/*
 * Walks the text as a terminal places it, written from the start of a row,
 * and appends it to the frame with each tab as spaces, leaving out the
 * characters of its first skip rows (their escape sequences still go out,
 * so that the colours are right); with erase, each line that does not fill
 * its last row erases its tail, and the last line everything below.  Keeps
 * the lines' printed widths in d, and returns the rows from the text's
 * first to the one the cursor ends on.
 */
static size_t walk(const char *text, size_t n, unsigned columns, size_t skip, bool erase,
		   frameout *o, drawstate *d)
{
	static const char spaces[] = "        ";
	size_t width = 0;  /* printed columns of the line so far */
	size_t row = 0;    /* the row its line starts on */
	size_t lines = 0;
	size_t lastchar = SIZE_MAX;  /* where the line's last character went */
	size_t linestart = o->len;

	for (size_t i = 0; i < n; i++) {
		const unsigned char c = static_cast<unsigned char>(text[i]);
		if (skip == 0 && c != '\t' && c != '\n') {
			/* Nothing left out: up to the next tab or line end, in one
			 * copy. */
			size_t end, last;
			const size_t w = spanwidth(text, n, i, &end, &last);
			if (last != SIZE_MAX)
				lastchar = o->len + (last - i);
			put(o, text + i, end - i);
			width += w;
			i = end - 1;
		} else if (c >= ' ') {
			size_t j = i + 1;
			while (j < n && static_cast<unsigned char>(text[j]) >= ' ')
				j++;
			putchars(o, text + i, j - i, width, row, columns, skip, &lastchar);
			width += j - i;
			i = j - 1;
		} else if (c == '\t') {
			const size_t pad = 8 - width % 8;
			putchars(o, spaces, pad, width, row, columns, skip, &lastchar);
			width += pad;
		} else if (c == '\033') {
			const size_t end = escapeend(text, n, i);
			put(o, text + i, end - i + 1);
			i = end;
		} else if (c == '\n') {
			const size_t rows = linerows(width, columns);
			if (row + rows - 1 >= skip) {
				if (erase && !fills(width, columns))
					put(o, "\033[K", 3);
				putch(o, '\n');
				linestart = o->len;
			}
			if (lines < KEPTLINES)
				d->widths[lines] = width;
			lines++;
			row += rows;
			width = 0;
			lastchar = SIZE_MAX;
		} else if (row + (columns == 0 ? 0 : width / columns) >= skip) {
			/* Other control characters take no column. */
			putch(o, static_cast<char>(c));
		}
	}
	if (lines < KEPTLINES)
		d->widths[lines] = width;
	d->lines = lines + 1;
	if (erase) {
		/* Where the last line fills its last row, the cursor waits on its
		 * last character with the wrap pending, and an erase there would
		 * take that character: the erase goes just before it, or on one
		 * column (every character fills a row) before the line.  A report
		 * cut to the terminal's height ends on its bottom row, with
		 * nothing below to erase. */
		if (!fills(width, columns))
			put(o, "\033[J", 3);
		else if (skip == 0)
			insert(o, columns > 1 && lastchar != SIZE_MAX ? lastchar : linestart, "\033[J", 3);
	}
	return row + linerows(width, columns) - 1;
}

/* The rows from the first of the report on screen to the cursor's, at a
 * width; SIZE_MAX where its lines were too many to keep. */
static size_t rowsat(const drawstate *d, unsigned columns)
{
	if (d->lines > KEPTLINES)
		return SIZE_MAX;
	size_t rows = 0;
	for (size_t i = 0; i < d->lines; i++)
		rows += linerows(d->widths[i], columns);
	return rows - 1;
}

static int clamp(size_t rows)
{
	return rows > INT_MAX ? INT_MAX : static_cast<int>(rows);
}

/* Appends the cursor-up over rows, formatted only when the count changes. */
static void putup(drawstate *d, frameout *o, int rows)
{
	if (rows != d->uprows) {
		const int k = snprintf(d->up, sizeof d->up, "\033[%iA", rows);
		if (k < 0 || static_cast<size_t>(k) >= sizeof d->up) {
			o->ok = false;
			return;
		}
		d->uplen = static_cast<size_t>(k);
		d->uprows = rows;
	}
	put(o, d->up, d->uplen);
}

void startframes(drawstate *d, bool terminal, int linecount)
{
	d->terminal = terminal;
	d->drawn = false;
	d->linecount = linecount;
	d->columns = 0;
	d->rows = 0;
	d->lines = 0;
	d->uprows = 0;
	d->uplen = 0;
}

/* Draws the report on a terminal. */
static void drawonterminal(drawstate *d, frameout *o, const char *report, size_t len,
			   unsigned columns, unsigned height, bool afresh, bool last)
{
	const size_t keep = !last && len > 0 && report[len - 1] == '\n' ? len - 1 : len;
	bool inplace = d->drawn && !afresh;
	/* A terminal may re-wrap its rows when its width changes, or cut
	 * them; only where the report takes the same rows at both widths are
	 * they where they were drawn. */
	if (inplace && columns != d->columns)
		inplace = rowsat(d, columns) != SIZE_MAX &&
			  rowsat(d, columns) == rowsat(d, d->columns);
	if (!inplace) {
		if (d->drawn)
			putch(o, '\n');
		d->rows = clamp(walk(report, keep, columns, 0, d->drawn, o, d));
		d->columns = columns;
		return;
	}
	/* A report as tall as the terminal, the one on screen or the one
	 * drawn, fills it from the top row, where moving up stops; one taller
	 * leaves out its first rows, so that nothing scrolls.  The rows of the
	 * one drawn are known once it is walked: where they call for it, it is
	 * walked again. */
	int up = height > 0 && static_cast<unsigned>(d->rows) >= height - 1 ? static_cast<int>(height - 1)
									 : d->rows;
	const size_t start = o->len;
	size_t skip = 0, rows;
	for (;;) {
		o->len = start;
		o->ok = true;
		putch(o, '\r');
		if (up > 0)
			putup(d, o, up);
		rows = walk(report, keep, columns, skip, true, o, d);
		if (height == 0 || rows < height - 1)
			break;
		const size_t cut = rows >= height ? rows + 1 - height : 0;
		if (up == static_cast<int>(height - 1) && skip == cut)
			break;
		up = static_cast<int>(height - 1);
		skip = cut;
	}
	d->rows = clamp(rows);
	d->columns = columns;
}

int drawframe(drawstate *d, char *frame, size_t size, const char *report,
	      size_t len, unsigned columns, unsigned height, bool afresh, bool last)
{
	if (size == 0)
		return -1;
	frameout o = {frame, size, 0, true};
	if (!d->terminal) {
		if (d->drawn && !afresh)
			putup(d, &o, d->linecount);
		put(&o, report, len);
	} else {
		drawonterminal(d, &o, report, len, columns, height, afresh, last);
	}
	if (!o.ok)
		return -1;
	d->drawn = true;
	frame[o.len] = '\0';
	return o.len > INT_MAX ? -1 : static_cast<int>(o.len);
}
