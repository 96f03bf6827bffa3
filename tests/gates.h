// SPDX-License-Identifier: ISC
// The stand-in's gates (tests/standin.cpp), which hold a call of the
// program until the test lets it go on.
#ifndef MEMGLOW_TESTS_GATES_H
#define MEMGLOW_TESTS_GATES_H

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

// A folder for the stand-in's gates: a file N lets the Nth sample through
// (N.held says that it waits for it), a file wN or sN holds the Nth write
// to the terminal, or read of its size, until it is gone.  Only the run's
// user (owner, where the run is another user's) and root may write in it,
// and it sits in a folder of the test's own, so that no other user can
// swap it; the test's files are made afresh, following no link that the
// run's user put there.
struct gates {
	std::string top, dir;

	explicit gates(std::vector<std::string> open, uid_t owner = static_cast<uid_t>(-1))
	{
		char path[] = "/tmp/memglow-gates-XXXXXX";
		if (mkdtemp(path) == nullptr)
			abort();
		top = path;
		dir = top + "/gate";
		if (mkdir(dir.c_str(), 0700) != 0)
			abort();
		if (owner != static_cast<uid_t>(-1) &&
		    (chmod(top.c_str(), 0755) != 0 || chown(dir.c_str(), owner, static_cast<gid_t>(-1)) != 0))
			abort();
		for (const auto &name : open)
			put(name);
	}
	~gates()
	{
		if (DIR *d = opendir(dir.c_str())) {
			while (const dirent *e = readdir(d))
				if (e->d_name[0] != '.')
					unlink((dir + "/" + e->d_name).c_str());
			closedir(d);
		}
		rmdir(dir.c_str());
		rmdir(top.c_str());
	}
	std::string env() const { return "STANDIN_GATE=" + dir; }
	void put(const std::string &name) const
	{
		const int fd = open((dir + "/" + name).c_str(),
				    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
		if (fd >= 0)
			close(fd);
	}
	void remove(const std::string &name) const { unlink((dir + "/" + name).c_str()); }
	// Waits for the stand-in to make the file (it holds a call back).
	bool waitfor(const std::string &name) const
	{
		for (int i = 0; i < 3000; i++) {
			if (access((dir + "/" + name).c_str(), F_OK) == 0)
				return true;
			usleep(10000);
		}
		return false;
	}
};

#endif
