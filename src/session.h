// SPDX-License-Identifier: ISC
/*
 * Whether anybody can still reach a run (session.cpp): on a terminal that is
 * not its controlling one, a run outlives the session that started it when
 * it is not its session's leader and that leader is gone (a shell that su or
 * runuser -c started in a session of its own, ended with su).  Nothing can
 * then stop it from the terminal, and the shell that has the terminal back
 * writes below its reports: such a run ends as a hang-up would end it.
 */
#ifndef MEMGLOW_SESSION_H
#define MEMGLOW_SESSION_H

#include <sys/types.h>

/* For a run whose terminal is not its controlling one, started as the
 * child of parent: where nobody can reach it any more, ends the process by
 * SIGHUP's default action, writing nothing more; returns otherwise, and
 * where SIGHUP is ignored (nohup), as a hang-up would leave the run going. */
void endifleftbehind(pid_t parent);

#endif
