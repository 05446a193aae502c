// What console.cpp asks of the system, from console_posix.cpp or console_win.cpp, and the
// system-free pieces of text they are built from.
#pragma once

#include <string>
#include <string_view>

namespace tessaro {

// Program text as the capture keeps it and the writers take it: on Linux already in the
// locale's encoding, on Windows still UTF-8.
std::string ConsoleText(std::string_view utf8);

// Writes text to standard output (buffered until FlushOutput) or to standard error.
void WriteOutput(std::string_view text);
void WriteErrorOutput(std::string_view text);

// The width of the terminal standard error shows, in columns; 0 when unknown.
int ErrorColumns();

// True when standard error's terminal erases to the end of the line on "ESC [ K"; elsewhere the
// status line is erased by writing blanks over it.
bool ErrorErasesByEscape();

// The columns utf8 fills on a terminal, as FitColumns counts them.
int ColumnsOf(std::string_view utf8);

// The text with every "\n" written as "\r\n".
std::string WithCrLf(std::string_view text);

// What puts `text` (filling textColumns) on the status line in place of a status that filled
// previousColumns, and what erases that status: by escape sequence, or by blanks over it.
std::string StatusDrawing(std::string_view text, int textColumns, int previousColumns, bool byEscape);
std::string StatusErasing(int previousColumns, bool byEscape);

}  // namespace tessaro
