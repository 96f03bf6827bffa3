// SPDX-License-Identifier: ISC
/*
 * Drawing each report over the last, as frames of bytes.
 *
 * On a terminal a frame is made in three steps: measure the report at the
 * terminal's width, place the cursor on the first row of the report on
 * screen, and emit the report's rows over the old ones.
 *
 * The report's lines are broken into rows by memglow itself, each row
 * ending in a newline, at the width the terminal reports: the report's last
 * newline is held back, so that an N-row report leaves the cursor at the end
 * of its N-th row.  A terminal that grows wider, or that draws a frame at a
 * width it has not yet reported (tmux while an edge is dragged, a terminal
 * at the far end of a slow link), leaves rows that end in newlines as they
 * are, where it would join or re-wrap rows that it wrapped itself.  So the
 * rows that a report takes on screen are never fewer than the rows it was
 * drawn in, and moving up over those never goes above its first row; a
 * terminal that grew narrower meanwhile may have re-wrapped them into more,
 * and then the top of the old report stays above the new one as a copy.
 *
 * Emitting never erases from the report's first row down: where that row is
 * the terminal's top-left corner, terminal multiplexers take such an erase
 * for a cleared screen and push the whole screen into their history.
 * Instead each row that does not fill the width erases its own tail, and
 * the last row everything below it: the tails of longer old rows, old rows,
 * anything typed meanwhile.  Tabs go out as the spaces they would give.
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

/* A report as rows of a width (0: a row a line). */
struct measure {
	size_t rows;     /* in all, at least one */
	size_t widest;   /* the printed width of the widest row */
	size_t lastrow;  /* the printed width of the last row */
};

/*
 * Walks the text as rows of the given width: each printed character (a tab
 * is the spaces to the next multiple of 8 of its line) goes to column col
 * of row row, and a line end ends the row.  Escape sequences and other
 * control characters take no column.  With o, appends what goes out: the
 * characters of the rows from skip on, the escape sequences of all rows (so
 * that the colours are right), a newline after each row but the last, the
 * erase of each row's tail that does not fill the width, and the erase below
 * the last row, placed before its last character where that fills the width
 * (the cursor then waits on it with the wrap pending, and an erase would take
 * it).
 */
static measure walk(const char *text, size_t n, unsigned columns, frameout *o, size_t skip,
		    bool erase, const measure *m)
{
	static const char spaces[] = "        ";
	measure got = {1, 0, 0};
	size_t row = 0, col = 0, linecol = 0;

	/* Ends the row, by a line end or by its width. */
	auto endrow = [&]() {
		if (o != nullptr && row >= skip) {
			if (erase && (columns == 0 || col < columns))
				put(o, "\033[K", 3);
			put(o, "\n", 1);
		}
		if (col > got.widest)
			got.widest = col;
		row++;
		col = 0;
		got.rows++;
	};
	/* Places k printed characters of s. */
	auto place = [&](const char *s, size_t k) {
		while (k > 0) {
			if (columns != 0 && col == columns)
				endrow();
			size_t take = columns == 0 ? k : columns - col < k ? columns - col : k;
			if (o != nullptr && row >= skip) {
				const bool last = m != nullptr && row == m->rows - 1;
				if (erase && last && columns != 0 && m->lastrow == columns &&
				    col + take == columns) {
					put(o, s, take - 1);
					put(o, "\033[J", 3);
					put(o, s + take - 1, 1);
				} else {
					put(o, s, take);
				}
			}
			col += take;
			linecol += take;
			s += take;
			k -= take;
		}
	};

	for (size_t i = 0; i < n; i++) {
		const unsigned char c = static_cast<unsigned char>(text[i]);
		if (c >= ' ') {
			size_t j = i + 1;
			while (j < n && static_cast<unsigned char>(text[j]) >= ' ')
				j++;
			place(text + i, j - i);
			i = j - 1;
		} else if (c == '\t') {
			place(spaces, 8 - linecol % 8);
		} else if (c == '\n') {
			endrow();
			linecol = 0;
		} else {
			const size_t end = c == '\033' ? escapeend(text, n, i) : i;
			if (o != nullptr && (c == '\033' || row >= skip))
				put(o, text + i, end - i + 1);
			i = end;
		}
	}
	if (col > got.widest)
		got.widest = col;
	got.lastrow = col;
	if (o != nullptr && erase && !(columns != 0 && col == columns && col > 0))
		put(o, "\033[J", 3);
	return got;
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
	d->holds = false;
	d->linecount = linecount;
	d->rows = 0;
	d->widest = 0;
	d->width = 0;
	d->height = 0;
	d->shrunk = false;
	d->uprows = 0;
	d->uplen = 0;
}

void noteheight(drawstate *d, unsigned height)
{
	d->shrunk = d->shrunk || (height > 0 && height < d->height);
}

/* Rows that a terminal now narrower may have re-wrapped or cut are no
 * longer known to be where they were drawn.  Nor is the cursor's row once
 * the terminal has been shorter: most terminals keep it, scrolling the rows
 * above into their history, but some (mosh, rxvt-unicode) keep their top
 * rows and move the cursor up into them, onto the lines above the report,
 * and nothing tells the two apart without reading from the terminal. */
bool fitsonscreen(const drawstate *d, unsigned columns, unsigned height)
{
	return (columns == 0 || d->widest <= columns) && !d->shrunk &&
	       (height == 0 || height >= d->height);
}

/* A terminal multiplexer whose edge is being dragged may already be
 * narrower still, and re-wrap the rows on screen, before it says so. */
static bool narrowed(const drawstate *d, unsigned columns)
{
	return columns > 0 && columns < d->width;
}

bool becomescopy(drawstate *d, unsigned columns, unsigned height)
{
	noteheight(d, height);
	return !fitsonscreen(d, columns, height) || narrowed(d, columns);
}

/* Where a redraw goes: up over the rows of the report on screen but its
 * last, to its first row, or to the terminal's top row where that is lower
 * (moving up stops there); and the rows of the new report left out, so that
 * it fits between there and the terminal's bottom row without scrolling. */
struct placement {
	int up;
	size_t skip;
};

static placement place(const drawstate *d, size_t rows, unsigned height)
{
	placement p = {d->rows, 0};
	if (height > 0) {
		if (static_cast<unsigned>(p.up) > height - 1)
			p.up = static_cast<int>(height - 1);
		if (rows > height)
			p.skip = rows - height;
	}
	return p;
}

/* Draws the report on a terminal. */
static void drawonterminal(drawstate *d, frameout *o, const char *report, size_t len,
			   unsigned columns, unsigned height, bool afresh, bool last)
{
	const size_t keep = !last && len > 0 && report[len - 1] == '\n' ? len - 1 : len;
	const measure m = walk(report, keep, columns, nullptr, 0, false, nullptr);
	if (!d->drawn || afresh || !fitsonscreen(d, columns, height)) {
		if (d->drawn && d->holds)
			put(o, "\n", 1);
		walk(report, keep, columns, o, 0, d->drawn, &m);
	} else {
		const placement p = place(d, m.rows, height);
		put(o, "\r", 1);
		if (p.up > 0)
			putup(d, o, p.up);
		walk(report, keep, columns, o, p.skip, true, &m);
	}
	d->holds = keep < len;
	d->rows = clamp(m.rows - 1);
	d->widest = m.widest;
	d->width = columns;
	d->height = height;
	d->shrunk = false;
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
