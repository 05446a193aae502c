// Console output: the only place the program prints. The program's own texts are UTF-8 in the
// source and converted for the console as os/console_io.h says.
#pragma once

#include <string>
#include <string_view>

#include "os/console_io.h"

namespace tessaro {

// Prints program text (converted as above) or raw bytes (on Windows UTF-8 like program text)
// to standard output.
void PrintText(std::string_view utf8);
void PrintRaw(std::string_view bytes);

// Hands everything printed so far to the system.
void FlushOutput();

// Prints prefix (program text), then path (raw), then suffix (program text).
void PrintWithPath(std::string_view prefix, std::string_view path, std::string_view suffix);

// Prints bytes (a line of messages.h) to standard error.
void PrintErrorRaw(std::string_view bytes);

// Prints program text to standard error.
void PrintErrorText(std::string_view utf8);

// The status line: program text shown on standard error in place of the previous status (meant
// for a terminal: carriage return, the text, then erase to the end of the line, or on a Windows
// console without escape sequences blanks over what the previous status left). Anything printed
// to standard output erases it first, so the screen keeps only the lines a log would.
// The text is cut to fit the terminal's width, so that it never wraps.
void ShowStatus(std::string_view utf8);
void ClearStatus();

// The longest start of utf8 whose characters fill at most `columns` terminal columns, counting
// CJK and other wide characters (U+1100 and above) as two, every other character as one.
std::string_view FitColumns(std::string_view utf8, int columns);

// The columns utf8 fills on a terminal, as FitColumns counts them.
int ColumnsOf(std::string_view utf8);

// What puts `text` (filling textColumns) on the status line in place of a status that filled
// previousColumns, and what erases that status: by escape sequence, or by blanks over it.
std::string StatusDrawing(std::string_view text, int textColumns, int previousColumns, bool byEscape);
std::string StatusErasing(int previousColumns, bool byEscape);

}  // namespace tessaro
