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

/* The rows a line of the given printed width takes; a line that fills the
 * last row exactly leaves the cursor on it, not below it. */
static size_t rowsof(size_t width, unsigned columns)
{
	if (columns == 0 || width == 0)
		return 1;
	return (width + columns - 1) / columns;
}

/* Other control characters take no column either. */
int reportrows(const char *text, size_t len, unsigned columns)
{
	size_t rows = 0;
	size_t width = 0;

	for (size_t i = 0; i < len; i++) {
		const unsigned char c = static_cast<unsigned char>(text[i]);
		if (c >= ' ') {
			width++;
		} else if (c == '\n') {
			rows += rowsof(width, columns);
			width = 0;
		} else if (c == '\t') {
			width = (width / 8 + 1) * 8;
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
	}
	/* An unfinished last line leaves the cursor on its last row. */
	if (width > 0)
		rows += rowsof(width, columns) - 1;
	return rows > INT_MAX ? INT_MAX : static_cast<int>(rows);
}
