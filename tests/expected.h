// SPDX-License-Identifier: ISC
// What the tests expect a bar to look like, spelled out mark by mark.
#ifndef MEMGLOW_TESTS_EXPECTED_H
#define MEMGLOW_TESTS_EXPECTED_H

#include <cstddef>
#include <string>

#include "report.h"

// The bar string itself: the three segments and the colours between them.
inline std::string expectedbar(unsigned hashes, unsigned percents, unsigned dots)
{
	return std::string(hashes, FREEMARK) + CACHECOLOUR + std::string(percents, CACHEMARK) +
	       RESTCOLOUR + std::string(dots, RESTMARK);
}

// The bar as a report line frames it, up to the figures after it.
inline std::string framedbar(unsigned hashes, unsigned percents, unsigned dots)
{
	return "\033[1;30m[" FREECOLOUR + expectedbar(hashes, percents, dots) +
	       "\033[1;30m]\033[1;37m ";
}

// A report as it goes to a terminal of the given width (0: unknown) the
// first time: its lines broken into rows of that width, each ending in a
// newline, its tabs as spaces and its last newline held back.
inline std::string asdrawn(const std::string &report, size_t columns = 0)
{
	std::string out;
	size_t column = 0;
	auto place = [&](char c) {
		if (columns > 0 && column > 0 && column % columns == 0)
			out += '\n';
		out += c;
		column++;
	};
	for (size_t i = 0; i < report.size(); i++) {
		const char c = report[i];
		if (c == '\033') {
			const size_t end = report.find('m', i);
			out += report.substr(i, end - i + 1);
			i = end;
		} else if (c == '\n') {
			out += c;
			column = 0;
		} else if (c == '\t') {
			do {
				place(' ');
			} while (column % 8 != 0);
		} else {
			place(c);
		}
	}
	if (!out.empty() && out.back() == '\n')
		out.pop_back();
	return out;
}

// A report as it goes to a terminal drawn over another one of the given
// width: as drawn, with the tail of each row that does not fill the width
// erased, and everything below the last row erased; where the last row
// fills the width, just before its last character.
inline std::string asredrawn(const std::string &report, size_t columns)
{
	const std::string drawn = asdrawn(report, columns);
	std::string out;
	size_t width = 0, lastchar = 0;
	auto fills = [&]() { return columns > 0 && width == columns; };
	for (size_t i = 0; i < drawn.size(); i++) {
		const char c = drawn[i];
		if (c == '\033') {
			const size_t end = drawn.find('m', i);
			out += drawn.substr(i, end - i + 1);
			i = end;
		} else if (c == '\n') {
			out += fills() ? "\n" : "\033[K\n";
			width = 0;
		} else {
			lastchar = out.size();
			out += c;
			width++;
		}
	}
	if (fills())
		return out.substr(0, lastchar) + "\033[J" + out.substr(lastchar);
	return out + "\033[J";
}

#endif
