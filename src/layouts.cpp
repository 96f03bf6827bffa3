// SPDX-License-Identifier: ISC
/* Every layout, one row each: the driver prints the chosen one, and the
 * option scan takes a report's line count from its row. */
#include "report.h"

const memlayout layouts[] = {
	{"bargraph", printbargraph, 2, 3},
	{"classic", printclassic, 3, 4},
};
static_assert(sizeof layouts / sizeof layouts[0] == LAYOUTCOUNT, "a row for each layout");

const memlayout *chosenlayout(bool classiclayout)
{
	return &layouts[classiclayout ? CLASSICLAYOUT : BARGRAPHLAYOUT];
}

int reportlines(const memlayout *layout, bool showtotal)
{
	return showtotal ? layout->totallines : layout->lines;
}
