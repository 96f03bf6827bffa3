// SPDX-License-Identifier: ISC
/*
 * A run left behind by its session.  The leader's process id stays the
 * session's id while the session has members, and no new process takes it
 * meanwhile: a kill that finds no process by that id means the leader is
 * gone.  A leader that has ended stays a zombie until its parent (su) or
 * init reaps it, which may take seconds; where it was the run's parent, the
 * run is handed to another the moment it ends.
 */
#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

#include "session.h"

/* A run that leads its session finds itself. */
static bool leftbehind(pid_t parent)
{
	const pid_t session = getsid(0);
	if (parent == session && getppid() != parent)
		return true;
	return kill(session, 0) != 0 && errno == ESRCH;
}

void endifleftbehind(pid_t parent)
{
	struct sigaction hangup;
	if (!leftbehind(parent) || sigaction(SIGHUP, nullptr, &hangup) != 0 ||
	    hangup.sa_handler == SIG_IGN)
		return;
	memset(&hangup, 0, sizeof hangup);
	hangup.sa_handler = SIG_DFL;
	sigemptyset(&hangup.sa_mask);
	sigaction(SIGHUP, &hangup, nullptr);
	sigset_t one;
	sigemptyset(&one);
	sigaddset(&one, SIGHUP);
	sigprocmask(SIG_UNBLOCK, &one, nullptr);
	raise(SIGHUP);
	_exit(128 + SIGHUP);
}
