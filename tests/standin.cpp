// SPDX-License-Identifier: ISC
/*
 * A stand-in for libstatgrab, preloaded into the program under test.  It
 * reports the figures and failures that each test sets through the
 * environment, the way the real library reports them on Linux: there the
 * free figure is MemFree plus Cached from /proc/meminfo.
 *
 *   STANDIN_MEM="total memfree cached"  bytes; default 8 GiB, 1 GiB, 3 GiB
 *   STANDIN_SWAP="total free"           bytes; default 2 GiB, 2 GiB
 *                                       Either takes a list of figures, one
 *                                       entry per query, separated by ';';
 *                                       the last one repeats
 *   STANDIN_FAIL="drop,mem:N,swap:N"    privilege release fails; the Nth and
 *                                       later queries of a kind fail
 *   STANDIN_TRACE=1                     each call is logged to stderr
 *   STANDIN_SLEEP=fake                  pauses pass at once on a clock of the
 *                                       stand-in's, which the program reads
 *                                       as its monotonic clock: it starts at
 *                                       0 and moves only in pauses
 *   STANDIN_SLEEP="clock,SIG@T,..."     the same, and the trace gives the
 *                                       time; at T seconds on it the
 *                                       stand-in sends itself SIG (winch,
 *                                       cont, term, int), or for width=N
 *                                       (height=N) makes its terminal N
 *                                       columns wide (rows tall)
 *   STANDIN_DELAY="init:S,pause:S,mem:S"
 *                                       sg_init, each pause before it
 *                                       starts, or each memory query takes
 *                                       S seconds more
 *   STANDIN_GATE=DIR                    the Nth memory query waits until the
 *                                       file DIR/N is there (having made
 *                                       DIR/N.held where it was not), then
 *                                       makes DIR/N.taken; the Nth write to a
 *                                       terminal, before it is made and once
 *                                       made, the Nth wait for a descriptor
 *                                       (pselect) and the Nth read of the
 *                                       terminal's size, once made, wait
 *                                       while DIR/bN, DIR/wN, DIR/pN or
 *                                       DIR/sN is there, having made
 *                                       DIR/bN.held, and so on (signals come
 *                                       through where the program lets them);
 *                                       the Nth blocking of signals
 *                                       (sigprocmask SIG_BLOCK), before it is
 *                                       made, while DIR/mN is there
 *   STANDIN_WRITE=slow                  a write to a terminal goes out in
 *                                       two halves 0.3 s apart; a signal
 *                                       between them ends it after the
 *                                       first, as a terminal's write does
 *   STANDIN_WRITE=failnewline           a write of a lone newline to a
 *                                       terminal fails (EIO)
 *   STANDIN_WRITE=fail:N                the Nth and later writes to a
 *                                       terminal fail (EIO)
 *   STANDIN_WRITE=short                 a write to a terminal takes only the
 *                                       first half of what it is given, as
 *                                       one with little room left does
 *   STANDIN_WRITE=again:N               the Nth write to a terminal finds it
 *                                       full (EAGAIN); the next ones do not
 *   STANDIN_WRITE=full:N                the Nth and later writes to a
 *                                       terminal find it full (EAGAIN)
 *                                       Settings of STANDIN_WRITE go
 *                                       together, separated by ','
 *
 * It also stands in for pselect, so that pauses (a pselect on no
 * descriptors) can be traced, skipped or put off: a skipped pause still
 * lets the signals that the program holds back come through; for
 * clock_gettime, which the pauses on its own clock move; and for write and
 * ioctl, so that the windows of a write or of a frame's making can be
 * widened.
 */
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

#include <statgrab.h>

enum { MAXSAMPLES = 32, MAXEVENTS = 64 };

static sg_mem_stats mem;
static sg_swap_stats swp;
static unsigned memcalls, swapcalls;

/* The environment, read once, so that the stand-in costs next to nothing
 * per call when the program's own cost is measured. */
static struct {
	bool ready, trace, fakesleep, faildrop, slowwrite, shortwrite, failnewline;
	double initdelay, pausedelay, memdelay;
	unsigned memfrom, swapfrom, writefrom;  /* 0: never fails */
	unsigned writeagain;                    /* 0: none */
	unsigned writefull;                     /* 0: none */
	/* The stand-in's clock, in nanoseconds, and the signals it sends at
	 * its times, in order. */
	bool clock, timed;
	long long now;
	struct {
		long long at;
		int sig;
		unsigned short width, height;
	} events[MAXEVENTS];
	unsigned nevents, nextevent;
	/* Figures for each query, up to the last given, which repeats. */
	unsigned long long mem[MAXSAMPLES][3], swap[MAXSAMPLES][3];
	unsigned memsamples, swapsamples;
	const char *gate;
} cfg;

/* What follows "name:" in a list such as "a:1,b:2", or null. */
static const char *valueof(const char *list, const char *name)
{
	const size_t len = strlen(name);
	for (const char *p = list; p != nullptr && *p != '\0';) {
		if (strncmp(p, name, len) == 0 && p[len] == ':')
			return p + len + 1;
		p = strchr(p, ',');
		if (p != nullptr)
			p++;
	}
	return nullptr;
}

/* Whether a list such as "a,b:1" holds the word. */
static bool hasword(const char *list, const char *word)
{
	const size_t len = strlen(word);
	for (const char *p = list; p != nullptr && *p != '\0';) {
		if (strncmp(p, word, len) == 0 && (p[len] == ',' || p[len] == '\0'))
			return true;
		p = strchr(p, ',');
		if (p != nullptr)
			p++;
	}
	return false;
}

/* The seconds after "name:" in such a list, or 0. */
static double setting(const char *list, const char *name)
{
	const char *value = valueof(list, name);
	return value != nullptr ? strtod(value, nullptr) : 0;
}

/* Sleeps the seconds through, whatever signals come. */
static void delay(double seconds)
{
	if (seconds <= 0)
		return;
	struct timespec t;
	t.tv_sec = static_cast<time_t>(seconds);
	t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
	while (nanosleep(&t, &t) != 0 && errno == EINTR) {
	}
}

/* The call number from which queries of this kind fail, or 0. */
static unsigned failsfrom(const char *fail, const char *kind)
{
	const char *value = valueof(fail, kind);
	return value != nullptr ? static_cast<unsigned>(strtoul(value, nullptr, 10)) : 0;
}

/* Reads entries of n figures each (at most 3), separated by ';', into v;
 * returns how many there are, and 1 when none are set (the defaults
 * stand). */
static unsigned figures(const char *name, unsigned long long (*v)[3], int n)
{
	const char *text = getenv(name);
	unsigned count = 0;
	char *end;

	while (text != nullptr && count < MAXSAMPLES) {
		if (count > 0)
			memcpy(v[count], v[count - 1], sizeof v[count]);
		for (int i = 0; i < n; i++) {
			v[count][i] = strtoull(text, &end, 10);
			text = end;
		}
		count++;
		text = strchr(text, ';');
		if (text != nullptr)
			text++;
	}
	return count > 0 ? count : 1;
}

/* "clock,winch@0.9,term@2": the clock of the stand-in's own, and its
 * events, given in the order of their times. */
static void readclock(const char *sleep)
{
	static const struct {
		const char *name;
		int sig;
	} names[] = {{"winch", SIGWINCH}, {"cont", SIGCONT}, {"term", SIGTERM}, {"int", SIGINT}};
	cfg.timed = sleep != nullptr && strncmp(sleep, "clock", 5) == 0;
	for (const char *p = cfg.timed ? strchr(sleep, ',') : nullptr; p != nullptr && cfg.nevents < MAXEVENTS;
	     p = strchr(p, ',')) {
		p++;
		const char *at = strchr(p, '@');
		if (at != nullptr && (strncmp(p, "width=", 6) == 0 || strncmp(p, "height=", 7) == 0)) {
			cfg.events[cfg.nevents].at = static_cast<long long>(strtod(at + 1, nullptr) * 1e9 + 0.5);
			cfg.events[cfg.nevents].sig = SIGWINCH;
			if (p[0] == 'w')
				cfg.events[cfg.nevents].width = static_cast<unsigned short>(atoi(p + 6));
			else
				cfg.events[cfg.nevents].height = static_cast<unsigned short>(atoi(p + 7));
			cfg.nevents++;
		}
		for (const auto &n : names) {
			if (at != nullptr && strncmp(p, n.name, static_cast<size_t>(at - p)) == 0 &&
			    n.name[at - p] == '\0') {
				cfg.events[cfg.nevents].at = static_cast<long long>(strtod(at + 1, nullptr) * 1e9 + 0.5);
				cfg.events[cfg.nevents].sig = n.sig;
				cfg.nevents++;
			}
		}
	}
}

static void configure()
{
	if (cfg.ready)
		return;
	cfg.ready = true;
	cfg.trace = getenv("STANDIN_TRACE") != nullptr;
	const char *sleep = getenv("STANDIN_SLEEP");
	cfg.fakesleep = sleep != nullptr && strcmp(sleep, "fake") == 0;
	readclock(sleep);
	cfg.clock = cfg.timed || cfg.fakesleep;
	const char *write = getenv("STANDIN_WRITE");
	cfg.slowwrite = hasword(write, "slow");
	cfg.shortwrite = hasword(write, "short");
	cfg.failnewline = hasword(write, "failnewline");
	cfg.writefrom = failsfrom(write, "fail");
	cfg.writeagain = failsfrom(write, "again");
	cfg.writefull = failsfrom(write, "full");
	const char *delays = getenv("STANDIN_DELAY");
	cfg.initdelay = setting(delays, "init");
	cfg.pausedelay = setting(delays, "pause");
	cfg.memdelay = setting(delays, "mem");
	const char *fail = getenv("STANDIN_FAIL");
	cfg.faildrop = fail != nullptr && strstr(fail, "drop") != nullptr;
	cfg.memfrom = failsfrom(fail, "mem");
	cfg.swapfrom = failsfrom(fail, "swap");
	cfg.mem[0][0] = 8ULL << 30;
	cfg.mem[0][1] = 1ULL << 30;
	cfg.mem[0][2] = 3ULL << 30;
	cfg.swap[0][0] = cfg.swap[0][1] = 2ULL << 30;
	cfg.gate = getenv("STANDIN_GATE");
	cfg.memsamples = figures("STANDIN_MEM", cfg.mem, 3);
	cfg.swapsamples = figures("STANDIN_SWAP", cfg.swap, 2);
}

/* Every entry point starts here: reads the settings once and logs the call. */
__attribute__((format(printf, 1, 2))) static void enter(const char *fmt, ...)
{
	configure();
	if (!cfg.trace)
		return;
	va_list ap;
	va_start(ap, fmt);
	fputc('[', stderr);
	if (cfg.timed)
		fprintf(stderr, "%lld.%09lld ", cfg.now / 1000000000, cfg.now % 1000000000);
	vfprintf(stderr, fmt, ap);
	fputs("]\n", stderr);
	va_end(ap);
}

/* Makes the file afresh, or nothing: the gate's folder may be another
 * user's, who could have put a link of the name there. */
static void touch(const char *path)
{
	const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
	if (fd >= 0)
		close(fd);
}

static void tick(void)
{
	struct timespec t = {0, 10000000};
	nanosleep(&t, nullptr);
}

/* Waits for the test to let the query through: until DIR/N is there,
 * having made DIR/N.held where it was not. */
static void passgate(unsigned call)
{
	if (cfg.gate == nullptr)
		return;
	char path[4096], held[4200];
	snprintf(path, sizeof path, "%s/%u", cfg.gate, call);
	if (access(path, F_OK) != 0) {
		snprintf(held, sizeof held, "%s.held", path);
		touch(held);
	}
	while (access(path, F_OK) != 0)
		tick();
	snprintf(path, sizeof path, "%s/%u.taken", cfg.gate, call);
	touch(path);
}

/* Waits while the test holds the call back: while DIR/<kind>N is there,
 * having made DIR/<kind>N.held.  The signals the program lets through meanwhile
 * are handled here. */
static void hold(char kind, unsigned call)
{
	if (cfg.gate == nullptr)
		return;
	char path[4096], held[4200];
	snprintf(path, sizeof path, "%s/%c%u", cfg.gate, kind, call);
	if (access(path, F_OK) != 0)
		return;
	snprintf(held, sizeof held, "%s.held", path);
	touch(held);
	while (access(path, F_OK) == 0)
		tick();
}

static bool fails(unsigned from, unsigned call)
{
	return from != 0 && call >= from;
}

extern "C" {

sg_error sg_init(int ignore_init_errors)
{
	enter("sg_init(%d)", ignore_init_errors);
	delay(cfg.initdelay);
	return SG_ERROR_NONE;
}

sg_error sg_drop_privileges(void)
{
	enter("sg_drop_privileges");
	if (cfg.faildrop) {
		errno = EPERM;
		return SG_ERROR_SETEUID;
	}
	return SG_ERROR_NONE;
}

sg_mem_stats *sg_get_mem_stats(size_t *entries)
{
	enter("%s", entries == nullptr ? "sg_get_mem_stats" : "sg_get_mem_stats(entries)");
	delay(cfg.memdelay);
	passgate(memcalls + 1);
	if (fails(cfg.memfrom, ++memcalls))
		return nullptr;
	const unsigned long long *m = cfg.mem[std::min(memcalls, cfg.memsamples) - 1];
	mem.total = m[0];
	mem.free = m[1] + m[2];
	mem.cache = m[2];
	mem.used = mem.total - mem.free;
	mem.systime = time(nullptr);
	return &mem;
}

sg_swap_stats *sg_get_swap_stats(size_t *entries)
{
	enter("%s", entries == nullptr ? "sg_get_swap_stats" : "sg_get_swap_stats(entries)");
	if (fails(cfg.swapfrom, ++swapcalls))
		return nullptr;
	const unsigned long long *w = cfg.swap[std::min(swapcalls, cfg.swapsamples) - 1];
	swp.total = w[0];
	swp.free = w[1];
	swp.used = swp.total - swp.free;
	swp.systime = time(nullptr);
	return &swp;
}

int pselect(int nfds, fd_set *in, fd_set *out, fd_set *error, const struct timespec *timeout,
	    const sigset_t *mask)
{
	using pselectfn = int (*)(int, fd_set *, fd_set *, fd_set *, const struct timespec *,
				  const sigset_t *);
	/* Set on first use, without a guard that would need the C++ runtime. */
	static pselectfn real;
	if (real == nullptr)
		real = reinterpret_cast<pselectfn>(dlsym(RTLD_NEXT, "pselect"));
	if (nfds == 0 && timeout != nullptr) {
		enter("pselect(%lld.%09ld)", static_cast<long long>(timeout->tv_sec), timeout->tv_nsec);
		delay(cfg.pausedelay);
		const struct timespec none = {0, 0};
		if (cfg.clock) {
			/* The pause passes at once, up to the next event, whose
			 * signal the program holds back until the pause lets it
			 * through. */
			const long long end = cfg.now + timeout->tv_sec * 1000000000LL + timeout->tv_nsec;
			if (cfg.nextevent < cfg.nevents && cfg.events[cfg.nextevent].at <= end) {
				const auto &e = cfg.events[cfg.nextevent++];
				cfg.now = std::max(cfg.now, e.at);
				struct winsize ws;
				if ((e.width != 0 || e.height != 0) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0) {
					if (e.width != 0)
						ws.ws_col = e.width;
					if (e.height != 0)
						ws.ws_row = e.height;
					ioctl(STDOUT_FILENO, TIOCSWINSZ, &ws);
				}
				kill(getpid(), e.sig);
			} else {
				cfg.now = end;
			}
			return real(0, nullptr, nullptr, nullptr, &none, mask);
		}
	}
	const int rc = real(nfds, in, out, error, timeout, mask);
	if (nfds > 0) {
		const int err = errno;
		static unsigned waits;
		hold('p', ++waits);
		errno = err;
	}
	return rc;
}

int clock_gettime(clockid_t clk, struct timespec *ts) noexcept
{
	using clockfn = int (*)(clockid_t, struct timespec *);
	static clockfn real;
	if (real == nullptr)
		real = reinterpret_cast<clockfn>(dlsym(RTLD_NEXT, "clock_gettime"));
	configure();
	if (!cfg.clock || clk != CLOCK_MONOTONIC)
		return real(clk, ts);
	ts->tv_sec = static_cast<time_t>(cfg.now / 1000000000);
	ts->tv_nsec = static_cast<long>(cfg.now % 1000000000);
	return 0;
}

int sigprocmask(int how, const sigset_t *set, sigset_t *old) noexcept
{
	using maskfn = int (*)(int, const sigset_t *, sigset_t *);
	static maskfn real;
	if (real == nullptr)
		real = reinterpret_cast<maskfn>(dlsym(RTLD_NEXT, "sigprocmask"));
	if (how == SIG_BLOCK) {
		configure();
		static unsigned blocks;
		hold('m', ++blocks);
	}
	return real(how, set, old);
}

int ioctl(int fd, unsigned long request, ...) noexcept
{
	using ioctlfn = int (*)(int, unsigned long, void *);
	static ioctlfn real;
	if (real == nullptr)
		real = reinterpret_cast<ioctlfn>(dlsym(RTLD_NEXT, "ioctl"));
	va_list ap;
	va_start(ap, request);
	void *arg = va_arg(ap, void *);
	va_end(ap);
	configure();
	const int rc = real(fd, request, arg);
	if (request == TIOCGWINSZ) {
		const int err = errno;
		static unsigned reads;
		hold('s', ++reads);
		errno = err;
	}
	return rc;
}

ssize_t write(int fd, const void *buf, size_t n)
{
	using writefn = ssize_t (*)(int, const void *, size_t);
	static writefn real;
	if (real == nullptr)
		real = reinterpret_cast<writefn>(dlsym(RTLD_NEXT, "write"));
	configure();
	if (!(cfg.slowwrite || cfg.shortwrite || cfg.failnewline || cfg.writefrom != 0 ||
	      cfg.writeagain != 0 || cfg.writefull != 0 || cfg.gate != nullptr) ||
	    !isatty(fd))
		return real(fd, buf, n);
	static unsigned writes;
	const unsigned call = ++writes;
	hold('b', call);
	const char *bytes = static_cast<const char *>(buf);
	ssize_t done;
	int err = errno;
	if (fails(cfg.writefrom, call) || (cfg.failnewline && n == 1 && bytes[0] == '\n')) {
		done = -1;
		err = EIO;
	} else if (call == cfg.writeagain || fails(cfg.writefull, call)) {
		done = -1;
		err = EAGAIN;
	} else if (!(cfg.slowwrite || cfg.shortwrite) || n < 2) {
		done = real(fd, buf, n);
		err = errno;
	} else {
		done = real(fd, bytes, n / 2);
		err = errno;
		struct timespec t = {0, 300000000};
		if (done > 0 && cfg.slowwrite && nanosleep(&t, nullptr) == 0 && !cfg.shortwrite) {
			/* A signal during the sleep ends the write after the
			 * first half. */
			const ssize_t rest = real(fd, bytes + done, n - static_cast<size_t>(done));
			done = rest < 0 ? done : done + rest;
		}
	}
	hold('w', call);
	errno = err;
	return done;
}

}
