// SPDX-License-Identifier: ISC
/* Bounded formatting into the caller's buffer, for both layouts. */
#include <cstdarg>
#include <cstdio>

#include "report.h"

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
