// SPDX-License-Identifier: ISC
// Runs on a terminal, as the screen tests share them.
#ifndef MEMGLOW_TESTS_ONTERMINAL_H
#define MEMGLOW_TESTS_ONTERMINAL_H

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "run.h"

const std::string failed = "Error getting memory information.\n";
// What the shell left on the screen before the run.
const std::string above = "$ echo keep\r\nkeep\r\n$ memglow -s 1\r\n";
const std::vector<std::string> aboverows = {"$ echo keep", "keep", "$ memglow -s 1"};
const std::string example = "8589934592 1073741824 3221225472";
const std::string TiBfree = "1099511627776 1099511627776 0";

// The last entry of a list of figures, one entry per sample.
inline std::string lastof(const std::string &list)
{
	const size_t at = list.rfind(';');
	return at == std::string::npos ? list : list.substr(at + 1);
}

inline std::vector<std::string> figures(const std::string &mem, const std::string &swap)
{
	std::vector<std::string> env;
	if (!mem.empty())
		env.push_back("STANDIN_MEM=" + mem);
	if (!swap.empty())
		env.push_back("STANDIN_SWAP=" + swap);
	return env;
}

// A terminal as a shell leaves it, and the program its controlling process.
inline runoptions terminal(int columns, int rows, std::vector<std::string> env)
{
	runoptions o;
	o.ptycolumns = columns;
	o.ptyrows = rows;
	o.cooked = true;
	o.env = std::move(env);
	return o;
}

// What stays on the screen while the run goes on: everything but the
// newline that its end gives back.
inline std::string running(const std::string &out)
{
	EXPECT_GE(out.size(), 2u);
	EXPECT_EQ(out.substr(out.size() < 2 ? 0 : out.size() - 2), "\r\n")
		<< "the newline is given back at the end";
	return out.size() < 2 ? out : out.substr(0, out.size() - 2);
}

// A fresh one-shot report of the figures on a terminal of the width, as it
// stands before its last newline.
inline std::string fresh(const std::vector<std::string> &args, const std::vector<std::string> &env,
			 int columns, int rows)
{
	runresult r = runmemglow(args, terminal(columns, rows, env));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");
	return running(r.out);
}

// How often what stands in the text.
inline size_t count(const std::string &text, const std::string &what)
{
	size_t n = 0;
	for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
		n++;
	return n;
}

// The terminal's new size, as a terminal emulator sets it.
inline void resize(int pty, int columns, int rows)
{
	struct winsize ws = {};
	ws.ws_col = static_cast<unsigned short>(columns);
	ws.ws_row = static_cast<unsigned short>(rows);
	ASSERT_EQ(ioctl(pty, TIOCSWINSZ, &ws), 0);
}

// Keys typed at the terminal.
inline void type(int pty, const char *keys)
{
	ASSERT_EQ(write(pty, keys, strlen(keys)), static_cast<ssize_t>(strlen(keys)));
}

// A line of /proc/PID/status, such as "SigBlk:", without its name.
inline std::string procstatus(pid_t pid, const std::string &name)
{
	std::ifstream in("/proc/" + std::to_string(pid) + "/status");
	for (std::string line; std::getline(in, line);)
		if (line.rfind(name, 0) == 0)
			return line.substr(line.find_first_not_of(" \t", name.size()));
	return "";
}

// Raises the limit of open descriptors so that one numbered FD_SETSIZE
// can be open, keeping the old limit in saved; false where the hard limit
// allows none.
inline bool allowfdsetsize(struct rlimit *saved)
{
	struct rlimit files;
	if (getrlimit(RLIMIT_NOFILE, &files) != 0 ||
	    (files.rlim_max != RLIM_INFINITY && files.rlim_max <= FD_SETSIZE))
		return false;
	*saved = files;
	files.rlim_cur = files.rlim_max == RLIM_INFINITY ? FD_SETSIZE + 64 : files.rlim_max;
	return setrlimit(RLIMIT_NOFILE, &files) == 0;
}

// Types ^S (stop) or ^Q, and waits until the terminal has taken it: until
// it takes no bytes, or takes them again (at most 5 s).
inline void typeflow(int pty, bool stop)
{
	type(pty, stop ? "\023" : "\021");
	const int side = open(ptsname(pty), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
	ASSERT_GE(side, 0);
	struct pollfd p = {side, POLLOUT, 0};
	for (int i = 0; i < 500 && (poll(&p, 1, 0) == 1) == stop; i++)
		usleep(10000);
	close(side);
}

#endif
