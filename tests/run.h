// SPDX-License-Identifier: ISC
// Runs the built memglow with the stand-in statistics library preloaded and
// collects everything it wrote.
#ifndef MEMGLOW_TESTS_RUN_H
#define MEMGLOW_TESTS_RUN_H

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

struct runresult {
	std::string out;
	std::string err;
	int status = -1;     // exit status, or -1 when killed by a signal
	int signal = 0;      // the signal that ended it, or 0
	double seconds = 0;  // wall time
};

struct runoptions {
	std::vector<std::string> env;  // NAME=value, added to the environment
	std::string argv0 = "memglow";
	std::string stdoutpath;        // write stdout here instead of a pipe
	bool closestdout = false;
	bool standin = true;           // otherwise the real libstatgrab
	bool realsleep = false;        // otherwise pauses are skipped, unless env
				       // sets STANDIN_SLEEP
	size_t readlimit = 0;          // stop reading stdout after this many bytes
	bool ignoresigpipe = false;    // start it with SIGPIPE ignored
	std::vector<int> ignored;      // and these signals
	double timeout = 20;           // then the run is killed
	std::vector<std::string> wrapper;  // run the program under this command
	int ptycolumns = -1;           // stdout is a terminal this wide, unless -1
	int ptyrows = 50;              // and this tall
	bool cooked = false;           // the terminal as a shell leaves it (line
				       // ends as CR LF, echo), otherwise raw
	bool stderrtopty = false;      // stderr goes to the terminal too
	bool nocontrol = false;        // the terminal is not the program's
				       // controlling terminal: it leads a
				       // session of its own without one
	bool ptymaster = false;        // stdout is the terminal's controlling
				       // side (its master), read at the other
	bool closestdin = false;       // started with stdin closed
	bool closestderr = false;      // and stderr
	std::vector<int> blocked;      // started with these signals blocked
	int fillfds = 0;               // descriptors 3 to this, less one, open
				       // (the caller's RLIMIT_NOFILE allowing)
	// Called after each piece of stdout that arrives, with the program's
	// process and, on a terminal, the terminal's controlling side.
	std::function<void(pid_t pid, int pty, const std::string &out)> onoutput;
	// Called once each, at so many seconds after the start.
	std::vector<std::pair<double, std::function<void(pid_t pid, int pty)>>> at;
};

runresult runmemglow(const std::vector<std::string> &args,
		     const runoptions &opts = runoptions());

// The program: as built, or MEMGLOW_BIN where that is set.
const char *memglowpath();
// The stand-in: STANDIN_LIB, or MEMGLOW_STANDIN_LIB where that is set.
const char *standinpath();

#endif
