// SPDX-License-Identifier: ISC
// The built program end to end, with the stand-in statistics library: every
// byte of stdout and stderr, and the exit status.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expected.h"
#include "run.h"

namespace {

// The stand-in's default machine: 8 GiB with 1 GiB free and 3 GiB cache,
// 2 GiB of swap, all free.
const std::string physical =
	"Physical  : " + framedbar(4, 13, 18) + "50\033[0;31m%\033[0m\t(4194304/8388608)\n";
const std::string swap =
	"Swap      : " + framedbar(35, 0, 0) + "100\033[0;31m%\033[0m\t(2097152/2097152)\n";
const std::string total =
	"Total     : " + framedbar(21, 14, 0) + "\033[0m(10485760=6291456+4194304)\n";
const std::string bars = physical + swap;
const std::string table =
	"             total       used       free     shared    buffers     cached\n"
	"Mem:       8388608    7340032    1048576          0          0    3145728\n"
	"Swap:      2097152          0    2097152\n";
const std::string tabletotal =
	"Total:    10485760 = ( 7340032 (used) +  3145728 (free))\n";
const std::string usage = "usage: memglow [-b|-k|-m] [-o] [-t] [-s delay] [-V]\n";
const std::string failed = "Error getting memory information.\n";

// What this C library's getopt says of a bad command line, in its own
// words, as the program's scan leaves it to say.
std::string getoptsays(const std::vector<std::string> &args)
{
#ifdef __GLIBC__
	const char *options = "+obkmVs:t";
	optind = 0;
#else
	const char *options = "obkmVs:t";
	optind = 1;
#endif
	std::vector<char *> argv{const_cast<char *>("memglow")};
	for (const auto &a : args)
		argv.push_back(const_cast<char *>(a.c_str()));
	argv.push_back(nullptr);
	fflush(stderr);
	const int saved = dup(2);
	FILE *said = tmpfile();
	dup2(fileno(said), 2);
	opterr = 1;
	while (getopt(static_cast<int>(argv.size() - 1), argv.data(), options) != -1) {
	}
	fflush(stderr);
	dup2(saved, 2);
	close(saved);
	std::string text;
	rewind(said);
	for (int c; (c = fgetc(said)) != EOF;)
		text += static_cast<char>(c);
	fclose(said);
	return text;
}

struct e2ecase {
	const char *name;
	std::vector<std::string> args;
	std::vector<std::string> env;
	std::string out, err;
	int status;
};

void check(const e2ecase &c, const runoptions &base = runoptions())
{
	runoptions o = base;
	o.env = c.env;
	runresult r = runmemglow(c.args, o);
	EXPECT_EQ(r.out, c.out) << c.name;
	EXPECT_EQ(r.err, c.err) << c.name;
	EXPECT_EQ(r.status, c.status) << c.name;
}

TEST(EndToEnd, OptionsAndExitStatuses)
{
	const e2ecase cases[] = {
		{"no options", {}, {}, bars, "", 0},
		{"total line", {"-t"}, {}, bars + total, "", 0},
		{"total twice", {"-t", "-t"}, {}, bars + total, "", 0},
		{"bytes", {"-b"}, {"STANDIN_MEM=1000 250 500", "STANDIN_SWAP=0 0"},
		 "Physical  : " + framedbar(8, 17, 10) + "75\033[0;31m%\033[0m\t(750/1000)\n"
		 "Swap      : " + framedbar(0, 0, 35) + "0\033[0;31m%\033[0m\t(0/0)\n", "", 0},
		{"k then m", {"-k", "-m"}, {},
		 "Physical  : " + framedbar(4, 13, 18) + "50\033[0;31m%\033[0m\t(4096/8192)\n"
		 "Swap      : " + framedbar(35, 0, 0) + "100\033[0;31m%\033[0m\t(2048/2048)\n", "", 0},
		{"m then k", {"-m", "-k"}, {}, bars, "", 0},
		{"classic", {"-o"}, {}, table, "", 0},
		{"classic with total", {"-o", "-t"}, {}, table + tabletotal, "", 0},
		{"version", {"-V"}, {}, "memglow version 0.9.3\n", "", 0},
		{"version before a bad option", {"-V", "-x"}, {}, "memglow version 0.9.3\n", "", 0},
		{"bad option before version", {"-x", "-V"}, {}, usage, getoptsays({"-x"}), 1},
		{"missing delay", {"-t", "-s"}, {}, usage, getoptsays({"-s"}), 1},
		{"a word ends the scan", {"word", "-t"}, {}, bars, "", 0},
		{"two hyphens end the scan", {"--", "-t"}, {}, bars, "", 0},
		{"delay 0", {"-s", "0"}, {}, bars, "", 0},
		{"delay -0", {"-s", "-0"}, {}, bars, "", 0},
		{"delay that is text", {"-s", "soon"}, {}, bars, "", 0},
		// A point, whatever the locale: the comma ends the number.
		{"delay with a decimal comma", {"-s", "0,5"}, {"LC_ALL=de_DE.UTF-8"}, bars, "", 0},
		{"negative delay", {"-s", "-1"}, {}, usage, "memglow: invalid delay: -1\n", 1},
		{"delay nan", {"-ts", "nan"}, {}, usage, "memglow: invalid delay: nan\n", 1},
		{"delay inf", {"-s", "inf"}, {}, usage, "memglow: invalid delay: inf\n", 1},
	};
	for (const auto &c : cases)
		check(c);
}

TEST(EndToEnd, UsageNamesTheInvocation)
{
	const std::string usage = "usage: /opt/bin/mg [-b|-k|-m] [-o] [-t] [-s delay] [-V]\n";
	runoptions o;
	o.argv0 = "/opt/bin/mg";
	std::string said = getoptsays({"-q"});
	said.replace(0, strlen("memglow"), "/opt/bin/mg");
	check({"bad option", {"-q"}, {}, usage, said, 1}, o);
	check({"bad delay", {"-s", "-2"}, {}, usage, "/opt/bin/mg: invalid delay: -2\n", 1}, o);
}

// Refreshing runs end when a sample fails; the stand-in fails the Nth query.
// Each report is drawn over the last: the cursor goes up as many lines as a
// report has.
TEST(EndToEnd, RefreshMovesTheCursorUpOverTheReport)
{
	const e2ecase cases[] = {
		{"bar graph", {"-s", "1"}, {"STANDIN_FAIL=mem:4"},
		 bars + "\033[2A" + bars + "\033[2A" + bars, failed, 1},
		{"bar graph with total", {"-t", "-t", "-s", "1"}, {"STANDIN_FAIL=mem:3"},
		 bars + total + "\033[3A" + bars + total, failed, 1},
		{"classic", {"-o", "-s", "1"}, {"STANDIN_FAIL=mem:3"},
		 table + "\033[3A" + table, failed, 1},
		{"classic with total", {"-o", "-t", "-s", "1"}, {"STANDIN_FAIL=mem:3"},
		 table + tabletotal + "\033[4A" + table + tabletotal, failed, 1},
		{"below a microsecond", {"-s", "0.0000001"}, {"STANDIN_FAIL=mem:3"},
		 bars + "\033[2A" + bars, failed, 1},
	};
	for (const auto &c : cases)
		check(c);
}

// Every failure the library can give, on the first sample and on a later
// one, in both layouts: the reports already made stay whole, with only the
// cursor-ups that came before them.
TEST(EndToEnd, LibraryFailures)
{
	const std::string drop =
		"Error. Failed to drop privileges: Operation not permitted\n" + failed;
	struct {
		const char *fail;
		int from;  // the sample that fails
		std::string err;
	} failures[] = {
		{"drop", 1, drop},
		{"mem:1", 1, failed},
		{"swap:1", 1, failed},
		{"mem:1,swap:1", 1, failed},
		{"mem:3", 3, failed},
		{"swap:3", 3, failed},
		{"mem:3,swap:3", 3, failed},
	};
	struct {
		std::vector<std::string> args;
		std::string report, up;
	} layouts[] = {
		{{"-t", "-s", "1"}, bars + total, "\033[3A"},
		{{"-o", "-s", "1"}, table, "\033[3A"},
		{{"-t"}, bars + total, ""},
		{{"-o", "-t"}, table + tabletotal, ""},
	};
	for (const auto &l : layouts) {
		for (const auto &f : failures) {
			bool once = l.up.empty();
			if (once && f.from > 1)
				continue;
			std::string out;
			for (int i = 1; i < f.from; i++)
				out += (i > 1 ? l.up : "") + l.report;
			std::string name = std::string(f.fail) + " with";
			for (const auto &a : l.args)
				name += " " + a;
			check({name.c_str(), l.args, {std::string("STANDIN_FAIL=") + f.fail}, out, f.err, 1});
		}
	}
}

// The library is set up once, privileges dropped once, and each report reads
// both figures afresh; pauses are slept in full, in pieces a 32-bit time_t
// holds, and a pause of 0 still lets blocked signals through.
TEST(EndToEnd, LibraryCallsAndPauses)
{
	const std::string sample = "[sg_get_mem_stats]\n[sg_get_swap_stats]\n";
	const std::string setup = "[sg_init(0)]\n[sg_drop_privileges]\n";
	const std::string piece = "[pselect(100000000.000000000)]\n";
	std::string longest;
	for (int i = 0; i < 92; i++)
		longest += piece;
	const e2ecase cases[] = {
		{"one report", {"-o"}, {"STANDIN_TRACE=1"}, table, setup + sample, 0},
		{"three samples", {"-o", "-s", "0.25"}, {"STANDIN_TRACE=1", "STANDIN_FAIL=mem:3"},
		 table + "\033[3A" + table,
		 setup + sample + "[pselect(0.250000000)]\n" + sample + "[pselect(0.250000000)]\n" + sample +
		 failed, 1},
		{"no pause below a microsecond", {"-o", "-s", "0.0000009"},
		 {"STANDIN_TRACE=1", "STANDIN_FAIL=mem:2"}, table,
		 setup + sample + "[pselect(0.000000000)]\n" + sample + failed, 1},
		{"a pause past a 32-bit count of microseconds", {"-o", "-s", "5000.5"},
		 {"STANDIN_TRACE=1", "STANDIN_FAIL=mem:2"}, table,
		 setup + sample + "[pselect(5000.500000000)]\n" + sample + failed, 1},
		{"the longest pause, in pieces", {"-o", "-s", "1e300"},
		 {"STANDIN_TRACE=1", "STANDIN_FAIL=mem:2"}, table,
		 setup + sample + longest + "[pselect(23372036.854775807)]\n" + sample + failed, 1},
	};
	for (const auto &c : cases)
		check(c);
}

// Each report reaches the reader before the pause that follows it: with a
// pause of a thousand seconds the first report is read whole while the
// program sleeps, and then it is ended.
TEST(EndToEnd, EachReportArrivesBeforeThePause)
{
	for (bool classic : {false, true}) {
		const std::string report = classic ? table : bars + total;
		runoptions o;
		o.realsleep = true;
		o.timeout = 10;
		o.onoutput = [&](pid_t pid, int, const std::string &out) {
			if (out.size() >= report.size())
				kill(pid, SIGTERM);
		};
		std::vector<std::string> args = {"-s", "1000"};
		args.push_back(classic ? "-o" : "-t");
		runresult r = runmemglow(args, o);
		EXPECT_EQ(r.out, report);
		EXPECT_EQ(r.signal, SIGTERM);
	}
}

// Each report goes out in one write, with the cursor-up before it, into a
// pipe and on a terminal alike.
TEST(EndToEnd, EachReportIsOneWrite)
{
	char log[] = "/tmp/memglow-writes-XXXXXX";
	const int fd = mkstemp(log);
	ASSERT_GE(fd, 0);
	close(fd);
	for (int columns : {-1, 40}) {
		for (const char *layout : {"-t", "-o"}) {
			runoptions o;
			// The stand-in goes to the program alone, not to strace.
			o.standin = false;
			o.wrapper = {"strace", "-qq", "-e", "trace=write", "-e", "signal=none",
				     "-E", std::string("LD_PRELOAD=") + STANDIN_LIB, "-o", log};
			o.ptycolumns = columns;
			o.env = {"STANDIN_FAIL=mem:4"};
			runresult r = runmemglow({layout, "-s", "1"}, o);
			ASSERT_EQ(r.status, 1) << r.err;
			std::ifstream in(log);
			std::string line;
			int writes = 0;
			while (std::getline(in, line))
				writes += line.rfind("write(", 0) == 0 && line.rfind("write(2,", 0) != 0;
			// On a terminal (through a description of the terminal of
			// its own) the newline held back goes out at the end.
			EXPECT_EQ(writes, columns < 0 ? 3 : 4) << layout << " " << columns;
		}
	}
	unlink(log);
}

TEST(EndToEnd, ARealPause)
{
	runoptions o;
	o.realsleep = true;
	o.env = {"STANDIN_FAIL=mem:3"};
	runresult r = runmemglow({"-s", "0.2"}, o);
	EXPECT_EQ(r.out, bars + "\033[2A" + bars);
	EXPECT_EQ(r.status, 1);
	EXPECT_GE(r.seconds, 0.4);
}

// Figures that break what a sound system reports, as container file systems
// serve them: each still makes a whole report, with clamped bars, amounts as
// the library gives them and Total lines whose stated sums hold.
TEST(EndToEnd, BrokenFiguresStillMakeAReport)
{
	const std::string head =
		"             total       used       free     shared    buffers     cached\n";
	const std::string mem = "Mem:    8589934592 7516192768 1073741824          0          0 3221225472\n";
	const std::string memmib = "Mem:          8192       7168       1024          0          0       3072\n";
	const std::string physicalb =
		"Physical  : " + framedbar(4, 13, 18) + "50\033[0;31m%\033[0m\t(4294967296/8589934592)\n";
	const std::string physicalm =
		"Physical  : " + framedbar(4, 13, 18) + "50\033[0;31m%\033[0m\t(4096/8192)\n";
	const std::string zero = "STANDIN_MEM=0 0 0";
	const std::string over = "STANDIN_MEM=8589934592 6442450944 4294967296";
	const std::string swap103 = "STANDIN_SWAP=1048576000 1080033280";
	const std::string swap200 = "STANDIN_SWAP=1073741824 2147483648";
	// SwapTotal: 0 kB beside SwapFree: 18446744073709346016 kB, in bytes.
	const std::string wrapped = "STANDIN_SWAP=0 18446744073499017216";
	const e2ecase cases[] = {
		{"a total of 0", {"-t", "-b"}, {zero},
		 "Physical  : " + framedbar(0, 0, 35) + "0\033[0;31m%\033[0m\t(0/0)\n"
		 "Swap      : " + framedbar(35, 0, 0) + "100\033[0;31m%\033[0m\t(2147483648/2147483648)\n"
		 "Total     : " + framedbar(35, 0, 0) + "\033[0m(2147483648=2147483648+0)\n", "", 0},
		{"a total of 0, classic", {"-o", "-t", "-m"}, {zero}, head +
		 "Mem:             0          0          0          0          0          0\n"
		 "Swap:         2048          0       2048\n"
		 "Total:        2048 = (       0 (used) +     2048 (free))\n", "", 0},
		{"a total of 0, classic in bytes", {"-o", "-b"}, {zero}, head +
		 "Mem:             0          0          0          0          0          0\n"
		 "Swap:   2147483648          0 2147483648\n", "", 0},
		{"free and cache above the total", {"-t", "-m"}, {over},
		 "Physical  : " + framedbar(26, 9, 0) + "125\033[0;31m%\033[0m\t(10240/8192)\n"
		 "Swap      : " + framedbar(35, 0, 0) + "100\033[0;31m%\033[0m\t(2048/2048)\n"
		 "Total     : " + framedbar(35, 0, 0) + "\033[0m(10240=10240+0)\n", "", 0},
		{"free and cache above the total, classic", {"-o", "-t", "-b"}, {over}, head +
		 "Mem:    8589934592 2147483648 6442450944          0          0 4294967296\n"
		 "Swap:   2147483648          0 2147483648\n"
		 "Total: 10737418240 = (2147483648 (used) + 8589934592 (free))\n", "", 0},
		{"free swap at 103 %", {"-t", "-b"}, {swap103}, physicalb +
		 "Swap      : " + framedbar(35, 0, 0) + "103\033[0;31m%\033[0m\t(1080033280/1048576000)\n"
		 "Total     : " + framedbar(19, 16, 0) + "\033[0m(9638510592=5375000576+4263510016)\n", "", 0},
		{"free swap at 103 %, classic", {"-o", "-t", "-m"}, {swap103}, head + memmib +
		 "Swap:         1000          0       1030\n"
		 "Total:        9192 = (    7138 (used) +     2054 (free))\n", "", 0},
		{"free swap at 200 %", {"-m"}, {swap200}, physicalm +
		 "Swap      : " + framedbar(35, 0, 0) + "200\033[0;31m%\033[0m\t(2048/1024)\n", "", 0},
		{"free swap at 200 %, classic", {"-o", "-t", "-b"}, {swap200}, head + mem +
		 "Swap:   1073741824          0 2147483648\n"
		 "Total:  9663676416 = (6442450944 (used) + 3221225472 (free))\n", "", 0},
		{"a wrapped free swap", {"-t", "-m"}, {wrapped}, physicalm +
		 "Swap      : " + framedbar(0, 0, 35) + "0\033[0;31m%\033[0m\t(17592186044215/0)\n"
		 "Total     : " + framedbar(35, 0, 0) + "\033[0m(8192=8192+0)\n", "", 0},
		{"a wrapped free swap, classic", {"-o", "-t", "-b"}, {wrapped}, head + mem +
		 "Swap:            0          0 18446744073499017216\n"
		 "Total:  8589934592 = (       0 (used) + 8589934592 (free))\n", "", 0},
	};
	for (const auto &c : cases)
		check(c);
}

TEST(EndToEnd, WriteErrorsAreReported)
{
	const std::string full = "memglow: write error: No space left on device\n";
	const e2ecase cases[] = {
		{"report", {}, {}, "", full, 1},
		{"version", {"-V"}, {}, "", full, 1},
		{"classic with total", {"-o", "-t"}, {}, "", full, 1},
		{"refreshing", {"-s", "1"}, {}, "", full, 1},
		{"usage", {"-x"}, {}, "", getoptsays({"-x"}) + full, 1},
	};
	runoptions o;
	o.stdoutpath = "/dev/full";
	o.timeout = 5;
	for (const auto &c : cases)
		check(c, o);

	o.stdoutpath.clear();
	o.closestdout = true;
	check({"closed", {}, {}, "", "memglow: write error: Bad file descriptor\n", 1}, o);
}

// A refreshing run whose reader goes away ends at once: killed by SIGPIPE,
// or, where SIGPIPE is ignored, with the write error.
TEST(EndToEnd, ReaderGoesAway)
{
	runoptions o;
	o.readlimit = 1;
	o.timeout = 10;
	runresult r = runmemglow({"-s", "0.1"}, o);
	EXPECT_EQ(r.signal, SIGPIPE);
	EXPECT_EQ(r.err, "");

	o.ignoresigpipe = true;
	r = runmemglow({"-o", "-s", "0.1"}, o);
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "memglow: write error: Broken pipe\n");
}

// The real libstatgrab on this machine: the reports are whole, and the
// figures are those of /proc/meminfo.
TEST(EndToEnd, RealLibrary)
{
	std::ifstream meminfo("/proc/meminfo");
	if (!meminfo)
		GTEST_SKIP() << "no /proc/meminfo";
	std::string key;
	unsigned long long memtotal = 0, swaptotal = 0, value;
	std::string unit;
	while (meminfo >> key >> value) {
		if (key == "MemTotal:")
			memtotal = value;
		else if (key == "SwapTotal:")
			swaptotal = value;
		std::getline(meminfo, unit);
	}

	runoptions o;
	o.standin = false;
	runresult r = runmemglow({"-o", "-t"}, o);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	const std::string head =
		"             total       used       free     shared    buffers     cached\n";
	ASSERT_EQ(r.out.compare(0, head.size(), head), 0) << r.out;
	unsigned long long mem[4], swp[3], tot[3];
	int end = 0;
	ASSERT_EQ(sscanf(r.out.c_str() + head.size(),
			 "Mem: %llu %llu %llu 0 0 %llu\nSwap: %llu %llu %llu\n"
			 "Total: %llu = ( %llu (used) + %llu (free))\n%n",
			 &mem[0], &mem[1], &mem[2], &mem[3], &swp[0], &swp[1], &swp[2], &tot[0],
			 &tot[1], &tot[2], &end), 10) << r.out;
	EXPECT_EQ(head.size() + static_cast<size_t>(end), r.out.size()) << r.out;
	EXPECT_EQ(mem[0], memtotal);
	EXPECT_EQ(mem[0], mem[1] + mem[2]);
	EXPECT_GE(mem[1], mem[3]);  // used counts the cache
	EXPECT_EQ(swp[0], swaptotal);
	EXPECT_EQ(tot[0], tot[1] + tot[2]);

	// The bar graph, its colour sequences taken out (their bytes are the
	// stand-in tests' business): three bars of 35 marks and the figures.
	r = runmemglow({"-t", "-m"}, o);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, 0);
	std::string plain;
	for (size_t at = 0; at < r.out.size(); at++) {
		if (r.out[at] == '\033')
			at = r.out.find('m', at);
		else
			plain += r.out[at];
	}
	char bars[3][36];
	unsigned percent[2];
	unsigned long long figures[7];
	end = 0;
	ASSERT_EQ(sscanf(plain.c_str(),
			 "Physical  : [%35[" BARMARKS "]] %u%%\t(%llu/%llu)\n"
			 "Swap      : [%35[" BARMARKS "]] %u%%\t(%llu/%llu)\n"
			 "Total     : [%35[" BARMARKS "]] (%llu=%llu+%llu)\n%n",
			 bars[0], &percent[0], &figures[0], &figures[1], bars[1], &percent[1], &figures[2],
			 &figures[3], bars[2], &figures[4], &figures[5], &figures[6], &end), 12) << plain;
	EXPECT_EQ(static_cast<size_t>(end), plain.size()) << plain;
	for (const auto &b : bars)
		EXPECT_EQ(strlen(b), 35u) << plain;
	EXPECT_EQ(figures[1], memtotal / 1024);
	EXPECT_EQ(figures[4], figures[5] + figures[6]);
}


// On a terminal a report is drawn with its last newline held back and its
// tabs as spaces, and each refresh goes back to the start of the row, up
// over the rows the last report was drawn in, its lines broken into rows of
// the terminal's width, and draws each row over the old one, erasing what is left;
// into a pipe the cursor goes up one line per line.  The stand-in's lines are 73 columns wide and its Total line 76.
TEST(EndToEnd, RefreshOnATerminalMovesUpOverWrappedRows)
{
	// 1 TiB, all of it free, and no swap, in bytes: lines of 85, 61 and 81
	// columns.
	const std::vector<std::string> widebytes = {"STANDIN_MEM=1099511627776 1099511627776 0",
						    "STANDIN_SWAP=0 0"};
	const std::string wide =
		"Physical  : " + framedbar(35, 0, 0) + "100\033[0;31m%\033[0m\t(1099511627776/1099511627776)\n"
		"Swap      : " + framedbar(0, 0, 35) + "0\033[0;31m%\033[0m\t(0/0)\n"
		"Total     : " + framedbar(35, 0, 0) + "\033[0m(1099511627776=1099511627776+0)\n";
	const std::string widetable = table.substr(0, table.find('\n') + 1) +
		"Mem:  1099511627776          0 1099511627776          0          0          0\n"
		"Swap:            0          0          0\n";
	struct {
		const char *name;
		int columns;
		std::vector<std::string> args;
		std::vector<std::string> env;
		std::string report;
		int up;  // rows above the cursor's that a report takes
	} cases[] = {
		{"fits", 80, {"-t"}, {}, bars + total, 2},
		{"lines of exactly the width", 76, {"-t"}, {}, bars + total, 2},
		{"the Total line one column over", 75, {"-t"}, {}, bars + total, 3},
		{"each line wraps once", 60, {"-t"}, {}, bars + total, 5},
		{"each line wraps twice", 36, {"-t"}, {}, bars + total, 8},
		{"the Total line wraps twice", 37, {"-t"}, {}, bars + total, 6},
		{"1 TiB in bytes, 80 columns", 80, {"-b", "-t"}, widebytes, wide, 4},
		{"1 TiB in bytes, 85 columns", 85, {"-b", "-t"}, widebytes, wide, 2},
		{"classic in bytes, wide figures", 73, {"-o", "-b"}, widebytes, widetable, 3},
		{"classic, 73 columns exactly", 73, {"-o"}, {}, table, 2},
		{"classic, one column short", 72, {"-o"}, {}, table, 4},
		{"a width of 0 counts lines", 0, {"-b", "-t"}, widebytes, wide, 2},
		// Into a pipe nothing can wrap: one line up per line.
		{"1 TiB in bytes, into a pipe", -1, {"-b", "-t"}, widebytes, wide, 3},
	};
	for (const auto &c : cases) {
		runoptions o;
		o.ptycolumns = c.columns;
		o.env = c.env;
		o.env.push_back("STANDIN_FAIL=mem:3");
		std::vector<std::string> args = c.args;
		args.insert(args.end(), {"-s", "1"});
		runresult r = runmemglow(args, o);
		const std::string up = c.up > 0 ? "\033[" + std::to_string(c.up) + "A" : "";
		if (c.columns < 0)
			EXPECT_EQ(r.out, c.report + up + c.report) << c.name;
		else
			EXPECT_EQ(r.out, asdrawn(c.report, static_cast<size_t>(c.columns)) + "\r" + up +
						 asredrawn(c.report, static_cast<size_t>(c.columns)) + "\n")
				<< c.name;
		EXPECT_EQ(r.err, failed) << c.name;
		EXPECT_EQ(r.status, 1) << c.name;
	}
}


// A terminal resized between two reports: where it is now narrower than a
// row of the report on screen, the next report starts afresh below it;
// where the width is back where it was by then, it is drawn in place.
TEST(EndToEnd, RefreshFollowsAResizedTerminal)
{
	for (const std::vector<unsigned short> &widths :
	     {std::vector<unsigned short>{60}, std::vector<unsigned short>{60, 80}}) {
		runoptions o;
		o.ptycolumns = 80;
		o.realsleep = true;
		o.env = {"STANDIN_FAIL=mem:3"};
		bool resized = false;
		o.onoutput = [&](pid_t, int pty, const std::string &out) {
			if (resized || out.size() < asdrawn(bars + total, 80).size())
				return;
			for (unsigned short w : widths) {
				struct winsize ws = {};
				ws.ws_row = 50;
				ws.ws_col = w;
				ASSERT_EQ(ioctl(pty, TIOCSWINSZ, &ws), 0);
			}
			resized = true;
		};
		runresult r = runmemglow({"-t", "-s", "0.5"}, o);
		EXPECT_TRUE(resized);
		const size_t width = widths.back();
		EXPECT_EQ(r.out, asdrawn(bars + total, 80) + (width == 80 ? "\r\033[2A" : "\n") +
				 asredrawn(bars + total, width) + "\n")
			<< widths.size();
		EXPECT_EQ(r.status, 1);
	}
}

// Stopped and continued, the program prints the next report below whatever
// the shell wrote meanwhile, without the cursor-up, and goes on in place from
// there.
TEST(EndToEnd, StopAndContinueStartsAfreshBelow)
{
	// Stops the program after each report that has arrived whole, up to
	// the given number of times.
	struct stopper {
		size_t report;
		int times;
		int done = 0;
		void operator()(pid_t pid, const std::string &out)
		{
			if (done == times || out.size() < report * (done + 1))
				return;
			int ws;
			ASSERT_EQ(kill(pid, SIGSTOP), 0);
			ASSERT_EQ(waitpid(pid, &ws, WUNTRACED), pid);
			ASSERT_TRUE(WIFSTOPPED(ws));
			ASSERT_EQ(kill(pid, SIGCONT), 0);
			done++;
		}
	};
	const std::string report = bars + total;
	for (bool terminal : {false, true}) {
		runoptions o;
		o.realsleep = true;
		o.ptycolumns = terminal ? 80 : -1;
		o.env = {"STANDIN_FAIL=mem:4"};
		stopper once{terminal ? asdrawn(report, 80).size() : report.size(), 1};
		o.onoutput = [&](pid_t pid, int, const std::string &out) { once(pid, out); };
		runresult r = runmemglow({"-t", "-s", "0.5"}, o);
		EXPECT_EQ(once.done, 1);
		if (terminal)
			EXPECT_EQ(r.out, asdrawn(report, 80) + "\n" + asredrawn(report, 80) + "\r\033[2A" +
					 asredrawn(report, 80) + "\n");
		else
			EXPECT_EQ(r.out, report + report + "\033[3A" + report);
		EXPECT_EQ(r.err, failed);
		EXPECT_EQ(r.status, 1);
	}

	// The pause ends at the continue: two stops take a refresh of a
	// thousand seconds through three samples, well within the run's time.
	runoptions o;
	o.realsleep = true;
	o.timeout = 20;
	o.env = {"STANDIN_FAIL=mem:3"};
	stopper twice{report.size(), 2};
	o.onoutput = [&](pid_t pid, int, const std::string &out) { twice(pid, out); };
	runresult r = runmemglow({"-t", "-s", "1000"}, o);
	EXPECT_EQ(twice.done, 2);
	EXPECT_EQ(r.out, report + report);
	EXPECT_EQ(r.err, failed);
	EXPECT_EQ(r.status, 1);
}

}  // namespace
