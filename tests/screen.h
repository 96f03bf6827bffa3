// SPDX-License-Identifier: ISC
// A real terminal emulator (libvterm) that renders what a program wrote to
// its terminal, so that tests judge the screen a user would see.
#ifndef MEMGLOW_TESTS_SCREEN_H
#define MEMGLOW_TESTS_SCREEN_H

#include <string>
#include <vector>

struct VTerm;

struct screenshot {
	std::vector<std::string> rows;  // each row's text, trailing blanks cut
	int cursorrow = 0, cursorcol = 0;
};

class emulator {
public:
	emulator(int rows, int columns);
	~emulator();
	emulator(const emulator &) = delete;
	emulator &operator=(const emulator &) = delete;
	void feed(const std::string &bytes);
	void resize(int rows, int columns);
	// A height shrink as mosh and rxvt-unicode make it: the top rows stay,
	// and the cursor moves up into the last of them (colours are lost).
	void keeptop(int rows);
	screenshot shot() const;
	// Rows the screen has pushed into its history by scrolling, and their
	// text.
	int pushed() const { return static_cast<int>(history.size()); }
	const std::vector<std::string> &pushedrows() const { return history; }

private:
	void start();
	VTerm *vt;
	int rows, columns;
	std::vector<std::string> history;
};

// The screen after the bytes, on a terminal of the given size.
screenshot render(const std::string &bytes, int rows, int columns);

// Rows and cursor, for a test's failure message.
std::string show(const screenshot &s);

#endif
