// SPDX-License-Identifier: ISC
#include "screen.h"

#include <vterm.h>

static int onpush(int cols, const VTermScreenCell *cells, void *user)
{
	std::string row;
	for (int c = 0; c < cols; c++)
		row += cells[c].chars[0] == 0 ? ' ' : static_cast<char>(cells[c].chars[0]);
	row.erase(row.find_last_not_of(' ') + 1);
	static_cast<std::vector<std::string> *>(user)->push_back(row);
	return 1;
}

emulator::emulator(int rows, int columns) : vt(vterm_new(rows, columns)), rows(rows), columns(columns)
{
	start();
}

void emulator::start()
{
	static VTermScreenCallbacks callbacks = {};
	callbacks.sb_pushline = onpush;
	vterm_set_utf8(vt, 1);
	VTermScreen *screen = vterm_obtain_screen(vt);
	vterm_screen_set_callbacks(screen, &callbacks, &history);
	vterm_screen_reset(screen, 1);
}

emulator::~emulator()
{
	vterm_free(vt);
}

void emulator::feed(const std::string &bytes)
{
	vterm_input_write(vt, bytes.data(), bytes.size());
	vterm_screen_flush_damage(vterm_obtain_screen(vt));
}

void emulator::resize(int r, int c)
{
	rows = r;
	columns = c;
	vterm_set_size(vt, r, c);
}

void emulator::keeptop(int r)
{
	const screenshot s = shot();
	vterm_free(vt);
	vt = vterm_new(r, columns);
	rows = r;
	start();
	std::string top;
	for (int i = 0; i < r && i < static_cast<int>(s.rows.size()); i++)
		top += (i > 0 ? "\r\n" : "") + s.rows[static_cast<size_t>(i)];
	const int row = s.cursorrow < r ? s.cursorrow : r - 1;
	feed(top + "\033[" + std::to_string(row + 1) + ";" + std::to_string(s.cursorcol + 1) + "H");
}

screenshot emulator::shot() const
{
	screenshot s;
	VTermScreen *screen = vterm_obtain_screen(vt);
	std::vector<char> text(static_cast<size_t>(columns) * 4 + 1);
	for (int r = 0; r < rows; r++) {
		VTermRect rect = {r, r + 1, 0, columns};
		size_t n = vterm_screen_get_text(screen, text.data(), text.size() - 1, rect);
		std::string row(text.data(), n);
		row.erase(row.find_last_not_of(' ') + 1);
		s.rows.push_back(row);
	}
	VTermPos pos;
	vterm_state_get_cursorpos(vterm_obtain_state(vt), &pos);
	s.cursorrow = pos.row;
	s.cursorcol = pos.col;
	return s;
}

screenshot render(const std::string &bytes, int rows, int columns)
{
	emulator e(rows, columns);
	e.feed(bytes);
	return e.shot();
}

std::string show(const screenshot &s)
{
	std::string out;
	for (size_t r = 0; r < s.rows.size(); r++)
		if (!s.rows[r].empty())
			out += std::to_string(r) + ": " + s.rows[r] + "\n";
	return out + "cursor " + std::to_string(s.cursorrow) + "," + std::to_string(s.cursorcol) + "\n";
}
