// SPDX-License-Identifier: ISC
/*
 * A refreshing run's signals.  The handlers write only the counts of what
 * came and the first ending signal; the run reads them, so a signal never
 * changes the run's own state under it.  Beyond that a handler only stops
 * the process (as the stop would have) or ends it, where the run lets
 * ending signals act at once.
 */
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "signals.h"

static const int endingsignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
enum { NENDINGSIGNALS = sizeof endingsignals / sizeof endingsignals[0] };

static volatile sig_atomic_t continues = 0;
static volatile sig_atomic_t stops = 0;
static volatile sig_atomic_t resizes = 0;
static volatile sig_atomic_t endsig = 0;
static volatile sig_atomic_t endbyterminal = 0;
static volatile sig_atomic_t acting = 0;  /* ending signals act at once */

static bool handled[NENDINGSIGNALS];  /* the ending signals taken over */
static bool stophandled;       /* and the stop */
static sigset_t blockset;      /* those, the continue, the stop and the resize */
static sigset_t startmask;     /* the mask the run started with */
static void (*finish)(leaving);  /* set once the signals are taken over */

static void oncontinue(int)
{
	continues = continues + 1;
}

/* Counts the stop, and stops as the signal's default action does, so that
 * the shell sees the job stopped by it; where the run acts on signals at
 * once it first finishes for the stop (the shell writes next). */
static void onstop(int sig)
{
	stops = stops + 1;
	if (acting)
		finish(STOPPED);
	struct sigaction dfl, ours;
	memset(&dfl, 0, sizeof dfl);
	dfl.sa_handler = SIG_DFL;
	sigaction(sig, &dfl, &ours);
	sigset_t one, old;
	sigemptyset(&one);
	sigaddset(&one, sig);
	sigprocmask(SIG_UNBLOCK, &one, &old);
	raise(sig);
	sigprocmask(SIG_SETMASK, &old, nullptr);
	sigaction(sig, &ours, nullptr);
}

static void onresize(int)
{
	resizes = resizes + 1;
}

/* A signal that no process sent came from the terminal (^C): the kernel's
 * own code. */
static bool sentbyprocess(const siginfo_t *info)
{
#ifdef SI_TKILL
	if (info->si_code == SI_TKILL)
		return true;
#endif
	return info->si_code == SI_USER || info->si_code == SI_QUEUE;
}

static void onend(int sig, siginfo_t *info, void *)
{
	if (endsig == 0) {
		endbyterminal = !sentbyprocess(info);
		endsig = sig;
	}
	if (acting) {
		finish(endingleaves());
		endbysignal();
	}
}

/* While one handler runs, the ending signals and the stop wait: the first
 * ending signal to come is the one that ends the run, and a stop never
 * writes its newline into what an ending signal's handler writes. */
static void handle(int sig, void (*handler)(int), void (*infohandler)(int, siginfo_t *, void *),
		   int flags)
{
	struct sigaction sa;
	memset(&sa, 0, sizeof sa);
	if (infohandler != nullptr) {
		sa.sa_sigaction = infohandler;
		flags |= SA_SIGINFO;
	} else {
		sa.sa_handler = handler;
	}
	sa.sa_flags = flags;
	sigemptyset(&sa.sa_mask);
	for (int e : endingsignals)
		sigaddset(&sa.sa_mask, e);
	sigaddset(&sa.sa_mask, SIGTSTP);
	sigaction(sig, &sa, nullptr);
	sigaddset(&blockset, sig);
}

/* A signal the run was started with ignored (nohup) stays ignored. */
static bool defaulted(int sig)
{
	struct sigaction old;
	return sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_DFL;
}

void takesignals(bool onterminal, void (*finishfn)(leaving))
{
	finish = finishfn;
	sigprocmask(SIG_SETMASK, nullptr, &startmask);
	sigemptyset(&blockset);
	handle(SIGCONT, oncontinue, nullptr, SA_RESTART);
	stophandled = defaulted(SIGTSTP);
	if (stophandled)
		handle(SIGTSTP, onstop, nullptr, SA_RESTART);
	if (onterminal) {
		handle(SIGWINCH, onresize, nullptr, SA_RESTART);
		/* Without SA_RESTART: a write or a wait that an ending signal
		 * interrupts returns. */
		for (int i = 0; i < NENDINGSIGNALS; i++) {
			handled[i] = defaulted(endingsignals[i]);
			if (handled[i])
				handle(endingsignals[i], nullptr, onend, 0);
		}
	}
	actonsignals();
}

signalsseen seensignals(void)
{
	return {continues, stops, resizes, endsig};
}

leaving endingleaves(void)
{
	return leavingby(endsig, endbyterminal != 0);
}

void defersignals(void)
{
	acting = 0;
	std::atomic_signal_fence(std::memory_order_seq_cst);
}

/* What the run wrote down before this is what the handler finds. */
void actonsignals(void)
{
	std::atomic_signal_fence(std::memory_order_seq_cst);
	acting = 1;
}

void blocksignals(void)
{
	sigprocmask(SIG_BLOCK, &blockset, nullptr);
}

void unblocksignals(void)
{
	sigprocmask(SIG_SETMASK, &startmask, nullptr);
}

const sigset_t *waitmask(void)
{
	return &startmask;
}

/* The others are ignored while it acts: a system may let a pending signal
 * through before the one raised (Linux lets the raised one through
 * first). */
void endbysignal(void)
{
	const int sig = endsig;
	for (int i = 0; i < NENDINGSIGNALS; i++)
		if (handled[i])
			signal(endingsignals[i], endingsignals[i] == sig ? SIG_DFL : SIG_IGN);
	raise(sig);
	sigprocmask(SIG_SETMASK, &startmask, nullptr);
	_exit(128 + sig);
}

/* One that comes meanwhile waits, and acts by its default action. */
void givesignalsback(void)
{
	if (finish == nullptr)
		return;
	blocksignals();
	if (endsig != 0)
		endbysignal();
	for (int i = 0; i < NENDINGSIGNALS; i++)
		if (handled[i])
			signal(endingsignals[i], SIG_DFL);
	if (stophandled)
		signal(SIGTSTP, SIG_DFL);
	unblocksignals();
}
