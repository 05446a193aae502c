// The console as the system gives it: the streams the run prints to, whether standard error is a
// terminal, how wide it is, and the encoding program text is printed in. On Linux, on a console
// whose locale uses a GBK-family encoding, program text is converted before printing
// (console_posix.h); paths are always printed as the raw bytes the file system gave. On Windows,
// texts and paths alike are UTF-8 inside and converted when written: to a console as UTF-16
// (WriteConsoleW), so they show whatever its code page; to a file or pipe as the ANSI code page's
// bytes with every line ending "\r\n", as a C runtime in text mode writes them.
#pragma once

#include <string>
#include <string_view>

namespace tessaro {

// Prepares the console for the run: on Linux reads the locale from the environment and picks the
// encoding; on Windows lets a console show the status line's escape sequences where it can.
void InitConsole();

// True when standard error (standard output) is a terminal, on Windows a console: where a status
// line belongs, and where a name's control characters must not reach.
bool ErrorIsTerminal();
bool OutputIsTerminal();

// True when the console takes UTF-8 (on Linux, unless the locale's encoding is of the GBK family;
// always on Windows, where text is converted as it is written).
bool ConsoleTakesUtf8();

// Program text as the writers take it: on Linux already in the locale's encoding, on Windows
// still UTF-8.
std::string ConsoleText(std::string_view utf8);

// Writes text to standard output (buffered until FlushConsoleOutput) or to standard error.
void WriteOutput(std::string_view text);
void WriteErrorOutput(std::string_view text);

// Hands everything written to standard output so far to the system.
void FlushConsoleOutput();

// The width of the terminal standard error shows, in columns; 0 when unknown.
int ErrorColumns();

// True when standard error's terminal erases to the end of the line on "ESC [ K"; elsewhere the
// status line is erased by writing blanks over it.
bool ErrorErasesByEscape();

// True when the user's language is Chinese (on Linux the locale's, from LC_ALL, LC_MESSAGES or
// LANG; on Windows the user interface's), for texts that have a Chinese translation.
bool UserReadsChinese();

// The text with every "\n" written as "\r\n".
std::string WithCrLf(std::string_view text);

}  // namespace tessaro
