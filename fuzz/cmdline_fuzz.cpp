// SPDX-License-Identifier: ISC
// The command line: the input, split at NUL bytes, is the argument list.
// Every scan must end in a coherent verdict and leave getopt ready for the
// next one.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "options.h"
#include "report.h"

enum { MAXARGS = 64, MAXBYTES = 4096 };

static void require(bool ok)
{
	if (!ok)
		abort();
}

static scanresult scan(int argc, char **argv, memsettings *s, const char **bad)
{
	memset(s, 0, sizeof *s);
	*bad = nullptr;
	return scanoptions(argc, argv, s, bad);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	static char text[MAXBYTES + 1];
	static char name[] = "memglow";
	char *argv[MAXARGS + 2];
	int argc = 0;

	if (size > MAXBYTES)
		size = MAXBYTES;
	memcpy(text, data, size);
	text[size] = '\0';
	argv[argc++] = name;
	for (size_t i = 0; i < size && argc <= MAXARGS; i += strlen(text + i) + 1)
		argv[argc++] = text + i;
	argv[argc] = nullptr;

	/* getopt's own messages are part of the program, not of the checks. */
	opterr = 0;
	memsettings s, again;
	const char *bad, *badagain;
	scanresult r = scan(argc, argv, &s, &bad);
	scanresult r2 = scan(argc, argv, &again, &badagain);
	require(r == r2);

	switch (r) {
	case SCAN_REPORT:
		require(s.unitdivisor == 1 || s.unitdivisor == 1024 ||
			s.unitdivisor == 1048576);
		require(std::isfinite(s.delay) && s.delay >= 0);
		require(s.linecount == reportlines(chosenlayout(s.classiclayout), s.showtotal));
		require(s.pauseus >= 0 && s.pauseus == pauselength(s.delay));
		require(memcmp(&s, &again, sizeof s) == 0);
		break;
	case SCAN_BADDELAY: {
		require(bad != nullptr && bad == badagain);
		double d = strtod(bad, nullptr);
		require(!std::isfinite(d) || d < 0);
		break;
	}
	case SCAN_VERSION:
	case SCAN_USAGE:
		break;
	}
	return 0;
}
