// SPDX-License-Identifier: ISC
/*
 * A report: the snapshot of one sample, the figures derived from it, the
 * bars, and the layouts that turn them into text (figures.cpp,
 * bargraph.cpp, classic.cpp, layouts.cpp, format.cpp).  All of it is pure:
 * functions of a snapshot and the report settings, writing into the
 * caller's buffers.
 */
#ifndef MEMGLOW_REPORT_H
#define MEMGLOW_REPORT_H

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <cstdio>

/* printf-style checking where the compiler has it. */
#if defined(__GNUC__) || defined(__clang__)
#define MEMGLOW_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define MEMGLOW_PRINTF(f, a)
#endif


enum { BARLEN = 35 };
/* A bar's marks and colours, in its order: free memory (or what is
 * available), the cache (or what is used), the rest.  The layouts write the
 * first colour before the bar; within it each segment is followed by the
 * next one's colour.  The marks as one string serve scanning. */
#define BARMARKS "#%."
#define FREECOLOUR "\033[1;32m"
#define CACHECOLOUR "\033[1;31m"
#define RESTCOLOUR "\033[1;37m"
/* Around a bar-graph line's bar: its brackets, then the percentage, its
 * sign, and the plain text after it. */
#define BRACKETCOLOUR "\033[1;30m"
#define FIGURECOLOUR "\033[1;37m"
#define SIGNCOLOUR "\033[0;31m"
#define PLAINCOLOUR "\033[0m"
constexpr char FREEMARK = BARMARKS[0];
constexpr char CACHEMARK = BARMARKS[1];
constexpr char RESTMARK = BARMARKS[2];
/* 35 marks and the two colours within, plus the terminator. */
enum { BARSIZE = 50 };
static_assert(BARLEN + sizeof CACHECOLOUR - 1 + sizeof RESTCOLOUR - 1 + 1 <= BARSIZE,
	      "a bar and its colours fit BARSIZE");
/* Room for any report of either layout, with its terminator: a bar-graph
 * line with the widest figures takes under 200 bytes. */
enum { REPORTSIZE = 1024 };

/* One sample, in bytes.  free excludes the cache; shared and buffers are
 * always 0. */
struct memsnapshot {
	uint64_t total;
	uint64_t free;
	uint64_t shared;
	uint64_t buffers;
	uint64_t cached;
	uint64_t swaptotal;
	uint64_t swapfree;
};

struct memfigures {
	uint64_t combinedtotal;
	uint64_t combinedfree;
	uint64_t combinedavail;
	double freepercent;
	double cachepercent;
	double swapfreepercent;
	double availpercent;
};


struct membars {
	char physical[BARSIZE];
	char swap[BARSIZE];
	char total[BARSIZE];
};

/* x rounded to a double.  Where the floating-point unit keeps more
 * precision than a double between operations (the x87 of 32-bit x86), a
 * store to memory rounds it, so that every platform computes the same
 * figures, bars and pauses from the same input. */
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
static inline double rounded(double x)
{
	return x;
}
#else
static inline double rounded(double x)
{
	volatile double v = x;
	return v;
}
#endif

/* Whether the library's free figure already counts its cache.  It does on
 * Linux, Cygwin and the BSDs; on macOS, Solaris and HP-UX its cache is 0, so
 * it makes no difference there; on AIX free and cache are apart. */
#if defined(_AIX)
enum { LIBFREEHOLDSCACHE = 0 };
#else
enum { LIBFREEHOLDSCACHE = 1 };
#endif

/* figures.cpp */
/* Fills snap from figures as the library reports them.  Where libfree
 * holds the cache, the cache is taken out of it, as far as it can be. */
void takefigures(memsnapshot *snap, bool libfreeholdscache, uint64_t total,
		 uint64_t libfree, uint64_t cache, uint64_t swaptotal,
		 uint64_t swapfree);
/* Any snapshot gives figures: the sums saturate at UINT64_MAX, and a total
 * of 0 gives percentages that are NaN or infinite. */
void derivefigures(const memsnapshot *snap, memfigures *fig);
/* Shared arithmetic of both layouts: amounts in units, truncated.  A
 * unitdivisor of 0 counts as 1. */
uint64_t inunits(uint64_t bytes, uint64_t unitdivisor);
/* a + b, or UINT64_MAX where the sum would wrap. */
uint64_t satadd(uint64_t a, uint64_t b);
/* (a + b) / unitdivisor without overflow; saturates at UINT64_MAX. */
uint64_t suminunits(uint64_t a, uint64_t b, uint64_t unitdivisor);
/* a - b, or 0 where b is the larger. */
uint64_t lessof(uint64_t a, uint64_t b);
/* The whole-number part of a percentage, clamped into int; NaN gives 0. */
int wholepercent(double percent);

/* bargraph.cpp */
struct barmarks {
	unsigned numberofmarks;
	unsigned numofmarkstwo;
	unsigned remainnum;
};
/* The three segment counts of a bar for any percentages: the first is its
 * share of BARLEN marks clamped into 0..BARLEN, the second its share clamped
 * into what the first leaves (all of it in fill mode), the rest are dots. */
barmarks countmarks(double first, double second, int fill);
/* Writes the bar of the counts into bar (BARSIZE bytes).  The
 * counts must fit; where they do not, the program stops through an
 * assertion. */
void drawbar(char *bar, const barmarks *marks);
void bargraph(char *bar, double first, double second, int fill);
void buildbars(const memfigures *fig, membars *bars);
int printbargraph(char *buf, size_t size, const memsnapshot *snap,
		  const memfigures *fig, const membars *bars, uint64_t unitdivisor,
		  bool showtotal);

/* classic.cpp */
/* It uses no bar. */
int printclassic(char *buf, size_t size, const memsnapshot *snap,
		 const memfigures *fig, const membars *bars, uint64_t unitdivisor,
		 bool showtotal);

/* layouts.cpp */
/* A layout writes the report into buf, terminated, and returns its length,
 * or -1 when it does not fit in size bytes; REPORTSIZE always holds it. */
typedef int printlayout(char *buf, size_t size, const memsnapshot *snap,
			const memfigures *fig, const membars *bars,
			uint64_t unitdivisor, bool showtotal);
/* A layout's row: its name, its print function, and the lines its report
 * has without the total line and with it. */
struct memlayout {
	const char *name;
	printlayout *print;
	int lines;
	int totallines;
};
/* The rows of layouts, in this order. */
enum { BARGRAPHLAYOUT, CLASSICLAYOUT, LAYOUTCOUNT };
extern const memlayout layouts[];
/* The layout that classiclayout chooses. */
const memlayout *chosenlayout(bool classiclayout);
/* The lines of one report of layout. */
int reportlines(const memlayout *layout, bool showtotal);

/* format.cpp */
/* Formats onto the text of *len bytes in buf (size bytes in all) and
 * advances *len: 0, or -1 when the result does not fit, with the text
 * cut short but terminated. */
MEMGLOW_PRINTF(4, 5)
int appendf(char *buf, size_t size, size_t *len, const char *fmt, ...);

#endif
