// SPDX-License-Identifier: ISC
#include "run.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char **environ;

/* Kills every process but this one whose environment holds the entry
 * mark. */
static void killmarked(const std::string &mark)
{
	DIR *proc = opendir("/proc");
	if (proc == nullptr)
		return;
	const std::string entry = mark + '\0';
	while (const dirent *e = readdir(proc)) {
		const long pid = strtol(e->d_name, nullptr, 10);
		if (pid <= 0 || pid == getpid())
			continue;
		const int fd = open(("/proc/" + std::string(e->d_name) + "/environ").c_str(), O_RDONLY | O_CLOEXEC);
		if (fd < 0)
			continue;
		std::string env;
		char buf[4096];
		for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
			env.append(buf, static_cast<size_t>(n));
		close(fd);
		if (env.rfind(entry, 0) == 0 || env.find('\0' + entry) != std::string::npos)
			kill(static_cast<pid_t>(pid), SIGKILL);
	}
	closedir(proc);
}

/* A process outside this one's tree (ctest ends the tree of a test that
 * runs past its time limit, with SIGKILL) that waits for this one to go,
 * however it goes, and then kills what carries the mark. */
static void startguard(const std::string &mark)
{
	int p[2];
	if (pipe2(p, O_CLOEXEC) != 0)
		return;
	const pid_t first = fork();
	if (first == 0) {
		if (fork() == 0) {
			setsid();
			const int nul = open("/dev/null", O_RDWR);
			for (int fd = 0; fd < 3; fd++)
				dup2(nul, fd);
			for (int fd = 3; fd < 1024; fd++)
				if (fd != p[0])
					close(fd);
			char c;
			while (read(p[0], &c, 1) < 0 && errno == EINTR) {
			}
			killmarked(mark);
		}
		_exit(0);
	}
	close(p[0]);
	if (first > 0)
		waitpid(first, nullptr, 0);
}

/* What every process a test starts carries in its environment, as the
 * shell tests' do (tests/lib.sh): the suite's (ctest sets MEMGLOW_TESTS to
 * the build folder) and this process's.  What is left of a run when it
 * ends is killed. */
static const std::string &testmark()
{
	static const std::string mark = [] {
		const char *suite = getenv("MEMGLOW_TESTS");
		std::string m = std::string("MEMGLOW_TESTMARK=") + (suite != nullptr ? suite : "") + ":e2e:" +
				std::to_string(getpid());
		startguard(m);
		return m;
	}();
	return mark;
}

const char *memglowpath()
{
	const char *p = getenv("MEMGLOW_BIN");
	return p != nullptr ? p : MEMGLOW_BIN;
}

const char *standinpath()
{
	const char *p = getenv("MEMGLOW_STANDIN_LIB");
	return p != nullptr ? p : STANDIN_LIB;
}

static void drain(int fd, std::string *into, bool *open)
{
	char buf[4096];
	ssize_t n = read(fd, buf, sizeof buf);
	if (n > 0)
		into->append(buf, static_cast<size_t>(n));
	else if (n == 0 || errno != EINTR)
		*open = false;
}

runresult runmemglow(const std::vector<std::string> &args, const runoptions &opts)
{
	std::vector<std::string> envs;
	for (char **e = environ; *e != nullptr; e++)
		if (strncmp(*e, "STANDIN_", 8) != 0 && strncmp(*e, "LD_PRELOAD=", 11) != 0)
			envs.push_back(*e);
	if (opts.standin)
		envs.push_back(std::string("LD_PRELOAD=") + standinpath());
	bool sleepset = false;
	for (const auto &e : opts.env)
		sleepset = sleepset || e.rfind("STANDIN_SLEEP=", 0) == 0;
	if (!opts.realsleep && !sleepset)
		envs.push_back("STANDIN_SLEEP=fake");
	for (const auto &e : opts.env)
		envs.push_back(e);
	envs.push_back(testmark());

	std::vector<char *> argv;
	for (const auto &w : opts.wrapper)
		argv.push_back(const_cast<char *>(w.c_str()));
	if (!opts.wrapper.empty())
		argv.push_back(const_cast<char *>(memglowpath()));
	else
		argv.push_back(const_cast<char *>(opts.argv0.c_str()));
	for (const auto &a : args)
		argv.push_back(const_cast<char *>(a.c_str()));
	argv.push_back(nullptr);
	std::vector<char *> envp;
	for (auto &e : envs)
		envp.push_back(const_cast<char *>(e.c_str()));
	envp.push_back(nullptr);

	int outp[2], errp[2];
	if (pipe(errp) != 0)
		abort();
	if (opts.ptycolumns >= 0) {
		// Raw, a terminal passes bytes through as they are written.
		struct winsize ws = {};
		ws.ws_row = static_cast<unsigned short>(opts.ptyrows);
		ws.ws_col = static_cast<unsigned short>(opts.ptycolumns);
		if (openpty(&outp[0], &outp[1], nullptr, nullptr, &ws) != 0)
			abort();
		struct termios t;
		tcgetattr(outp[1], &t);
		if (opts.cooked)
			t.c_oflag |= OPOST | ONLCR;
		else
			cfmakeraw(&t);
		tcsetattr(outp[1], TCSANOW, &t);
		// The program writes to the master, as a terminal emulator
		// would, and the test reads what arrives at the other side.
		if (opts.ptymaster)
			std::swap(outp[0], outp[1]);
	} else if (pipe(outp) != 0) {
		abort();
	}
	posix_spawn_file_actions_t fa;
	posix_spawn_file_actions_init(&fa);
	if (opts.closestdin)
		posix_spawn_file_actions_addclose(&fa, 0);
	else
		posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
	if (opts.closestdout)
		posix_spawn_file_actions_addclose(&fa, 1);
	else if (!opts.stdoutpath.empty())
		posix_spawn_file_actions_addopen(&fa, 1, opts.stdoutpath.c_str(),
						 O_WRONLY | O_CREAT | O_TRUNC, 0644);
	else if (opts.ptymaster)
		posix_spawn_file_actions_adddup2(&fa, outp[1], 1);
	else if (opts.ptycolumns >= 0)
		// The program leads a session of its own, and the terminal
		// becomes its controlling terminal, so that it gets the
		// terminal's signals (a resize, ^C) as it would from a shell;
		// or, with nocontrol, the session has none.
		posix_spawn_file_actions_addopen(&fa, 1, ptsname(outp[0]),
						 O_RDWR | (opts.nocontrol ? O_NOCTTY : 0), 0);
	else
		posix_spawn_file_actions_adddup2(&fa, outp[1], 1);
	if (opts.closestderr)
		posix_spawn_file_actions_addclose(&fa, 2);
	else if (opts.stderrtopty && opts.ptycolumns >= 0)
		posix_spawn_file_actions_adddup2(&fa, 1, 2);
	else
		posix_spawn_file_actions_adddup2(&fa, errp[1], 2);
	posix_spawn_file_actions_addclose(&fa, outp[0]);
	posix_spawn_file_actions_addclose(&fa, errp[0]);
	posix_spawn_file_actions_addclose(&fa, outp[1]);
	posix_spawn_file_actions_addclose(&fa, errp[1]);
	const int nul = opts.fillfds > 3 ? open("/dev/null", O_RDONLY | O_CLOEXEC) : -1;
	for (int fd = 3; fd < opts.fillfds; fd++)
		posix_spawn_file_actions_adddup2(&fa, nul, fd);

	runresult r;
	auto start = std::chrono::steady_clock::now();
	pid_t pid;
	void (*oldpipe)(int) = signal(SIGPIPE, opts.ignoresigpipe ? SIG_IGN : SIG_DFL);
	std::vector<void (*)(int)> old;
	for (int sig : opts.ignored)
		old.push_back(signal(sig, SIG_IGN));
	const char *path = opts.wrapper.empty() ? memglowpath() : opts.wrapper[0].c_str();
	posix_spawnattr_t attr;
	posix_spawnattr_init(&attr);
	// The signals that a test sends start at their default actions, unless
	// it asks for them ignored: a test run in the background of a shell
	// without job control is started with SIGINT and SIGQUIT ignored.
	sigset_t defaulted;
	sigemptyset(&defaulted);
	for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCONT, SIGWINCH, SIGTSTP})
		if (std::find(opts.ignored.begin(), opts.ignored.end(), sig) == opts.ignored.end())
			sigaddset(&defaulted, sig);
	posix_spawnattr_setsigdefault(&attr, &defaulted);
	short flags = POSIX_SPAWN_SETSIGDEF;
	if (opts.ptycolumns >= 0 && !opts.closestdout && opts.stdoutpath.empty() && !opts.ptymaster)
		flags |= POSIX_SPAWN_SETSID;
	if (!opts.blocked.empty()) {
		sigset_t mask;
		sigemptyset(&mask);
		for (int sig : opts.blocked)
			sigaddset(&mask, sig);
		posix_spawnattr_setsigmask(&attr, &mask);
		flags |= POSIX_SPAWN_SETSIGMASK;
	}
	posix_spawnattr_setflags(&attr, flags);
	if (posix_spawnp(&pid, path, &fa, &attr, argv.data(), envp.data()) != 0)
		abort();
	signal(SIGPIPE, oldpipe);
	for (size_t i = 0; i < opts.ignored.size(); i++)
		signal(opts.ignored[i], old[i]);
	posix_spawn_file_actions_destroy(&fa);
	if (nul >= 0)
		close(nul);
	posix_spawnattr_destroy(&attr);
	close(outp[1]);
	close(errp[1]);

	bool outopen = true, erropen = true, killed = false;
	size_t nextat = 0;
	while (outopen || erropen) {
		pollfd fds[2] = {{outp[0], POLLIN, 0}, {errp[0], POLLIN, 0}};
		const double now =
			std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
		while (nextat < opts.at.size() && opts.at[nextat].first <= now) {
			opts.at[nextat].second(pid, opts.ptycolumns >= 0 ? outp[0] : -1);
			nextat++;
		}
		double left = opts.timeout - now;
		if (nextat < opts.at.size() && opts.at[nextat].first - now < left)
			left = opts.at[nextat].first - now;
		if (opts.timeout - now <= 0 && !killed) {
			kill(pid, SIGKILL);
			killed = true;
		}
		if (poll(fds, 2, left > 0 ? static_cast<int>(left * 1000) + 1 : 100) < 0)
			continue;
		if (outopen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
			drain(outp[0], &r.out, &outopen);
			if (opts.onoutput)
				opts.onoutput(pid, opts.ptycolumns >= 0 ? outp[0] : -1, r.out);
		}
		if (outopen && opts.readlimit > 0 && r.out.size() >= opts.readlimit) {
			// The reader goes away.
			close(outp[0]);
			outp[0] = -1;
			outopen = false;
		}
		if (erropen && (fds[1].revents & (POLLIN | POLLHUP)))
			drain(errp[0], &r.err, &erropen);
	}
	if (outp[0] >= 0)
		close(outp[0]);
	close(errp[0]);
	int ws;
	while (waitpid(pid, &ws, 0) < 0 && errno == EINTR) {
	}
	killmarked(testmark());
	// Under qemu-user the emulator reports a signal that ended the program
	// with a core dump on its own line, as a shell would: not the
	// program's output.
	const std::string qemusays = "qemu: uncaught target signal ";
	for (size_t at; (at = r.err.find(qemusays)) != std::string::npos;)
		r.err.erase(at, r.err.find('\n', at) + 1 - at);
	r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
	if (WIFEXITED(ws))
		r.status = WEXITSTATUS(ws);
	else if (WIFSIGNALED(ws))
		r.signal = WTERMSIG(ws);
	return r;
}
