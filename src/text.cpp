// SPDX-License-Identifier: ISC
#include <climits>
#include <cstdarg>
#include <cstdio>

#include "memglow.h"

int appendf(char *buf, size_t size, size_t *len, const char *fmt, ...)
{
	if (*len >= size)
		return -1;
	va_list ap;
	va_start(ap, fmt);
	const int n = vsnprintf(buf + *len, size - *len, fmt, ap);
	va_end(ap);
	if (n < 0 || static_cast<size_t>(n) >= size - *len)
		return -1;
	*len += static_cast<size_t>(n);
	return 0;
}

/*
 * Follows the cursor the way terminals move it: a character at the last
 * column leaves the cursor there with a wrap pending, and the next character
 * starts a new row; a tab goes to the next multiple of 8 in its row, or to
 * the last column, and never wraps.
 */
int reportrows(const char *text, size_t len, unsigned columns)
{
	size_t rows = 0;
	size_t linerows = 1;
	unsigned x = 0;
	bool pending = false;

	for (size_t i = 0; i < len; i++) {
		const unsigned char c = static_cast<unsigned char>(text[i]);
		if (c >= ' ') {
			/* A run of printing characters, placed at once. */
			size_t n = 1;
			while (i + n < len && static_cast<unsigned char>(text[i + n]) >= ' ')
				n++;
			i += n - 1;
			if (columns == 0)
				continue;
			if (pending) {
				linerows++;
				x = 0;
				pending = false;
			}
			if (n > columns - x) {
				/* Past the end of this row: the rest fill whole rows and
				 * part of the last. */
				const size_t rest = n - (columns - x);
				linerows += (rest + columns - 1) / columns;
				n = (rest - 1) % columns + 1;
				x = 0;
			}
			if (x + n == columns) {
				x = columns - 1;
				pending = true;
			} else {
				x += static_cast<unsigned>(n);
			}
		} else if (c == '\n') {
			rows += linerows;
			linerows = 1;
			x = 0;
			pending = false;
		} else if (c == '\t') {
			if (columns > 0 && !pending) {
				const unsigned stop = (x / 8 + 1) * 8;
				x = stop < columns ? stop : columns - 1;
			}
		} else if (c == '\033') {
			/* A control sequence takes no column: ESC [, its
			 * parameters, up to its final byte. */
			if (i + 1 < len && text[i + 1] == '[') {
				for (i += 2; i < len; i++) {
					const unsigned char f = static_cast<unsigned char>(text[i]);
					if (f >= 0x40 && f <= 0x7e)
						break;
				}
			} else {
				i++;
			}
		}
		/* Other control characters take no column either. */
	}
	/* An unfinished last line leaves the cursor on its last row. */
	rows += linerows - 1;
	return rows > INT_MAX ? INT_MAX : static_cast<int>(rows);
}
