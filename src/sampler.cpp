// SPDX-License-Identifier: ISC
#include <cerrno>
#include <cstdio>
#include <grp.h>
#include <unistd.h>

#include <statgrab.h>

#include "sampler.h"

/* Set up and privilege release are tried once per run, whatever comes of
 * them. */
static bool statsready = false;
static int startstatus = -1;

/* Makes the real ids the only ones: supplementary groups (where a
 * setuid-root program may still set them), then the real, effective and
 * saved group and user ids, and checks that none of the others is left or
 * can be taken back.  The library's own release changes only the
 * effective ids, which the saved ones could undo. */
static int releaseprivileges(void)
{
	const uid_t uid = getuid(), euid = geteuid();
	const gid_t gid = getgid(), egid = getegid();
	if (euid == 0 && uid != 0 && setgroups(1, &gid) != 0)
		return -1;
	if (setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0)
		return -1;
	uid_t r, e, s;
	gid_t rg, eg, sg;
	if (getresuid(&r, &e, &s) != 0 || getresgid(&rg, &eg, &sg) != 0)
		return -1;
	if (r != uid || e != uid || s != uid || rg != gid || eg != gid || sg != gid) {
		errno = EPERM;
		return -1;
	}
	/* Root may take any id back; anyone else must find the old ones
	 * gone. */
	if (uid != 0 && ((euid != uid && setresuid(-1, euid, -1) == 0) ||
			 (egid != gid && setresgid(-1, egid, -1) == 0))) {
		errno = EPERM;
		return -1;
	}
	return 0;
}

int startsampler(void)
{
	if (statsready)
		return startstatus;
	statsready = true;
	/* The library's set-up runs with the privileges it was installed
	 * for; nothing else does. */
	sg_init(0);
	if (releaseprivileges() != 0 || sg_drop_privileges() != SG_ERROR_NONE) {
		perror("Error. Failed to drop privileges");
		return -1;
	}
	startstatus = 0;
	return 0;
}

int getsnapshot(memsnapshot *snap)
{
	if (startsampler() != 0)
		return -1;
	/* The records belong to the library: copy the figures out at once. */
	const sg_mem_stats *mem = sg_get_mem_stats(nullptr);
	const sg_swap_stats *swap = sg_get_swap_stats(nullptr);
	if (mem == nullptr || swap == nullptr)
		return -1;
	takefigures(snap, LIBFREEHOLDSCACHE, mem->total, mem->free, mem->cache, swap->total, swap->free);
	return 0;
}
