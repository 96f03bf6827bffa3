// SPDX-License-Identifier: ISC
// What the tests expect a bar to look like, spelled out mark by mark.
#ifndef MEMGLOW_TESTS_EXPECTED_H
#define MEMGLOW_TESTS_EXPECTED_H

#include <string>

// The bar string itself: the three segments and the colours between them.
inline std::string expectedbar(unsigned hashes, unsigned percents, unsigned dots)
{
	return std::string(hashes, '#') + "\033[1;31m" + std::string(percents, '%') +
	       "\033[1;37m" + std::string(dots, '.');
}

// The bar as a report line frames it, up to the figures after it.
inline std::string framedbar(unsigned hashes, unsigned percents, unsigned dots)
{
	return "\033[1;30m[\033[1;32m" + expectedbar(hashes, percents, dots) +
	       "\033[1;30m]\033[1;37m ";
}

#endif
