// Console output. The program's own texts are UTF-8 in the source.
// On Linux, on a console whose locale uses a GBK-family encoding they are converted before
// printing (console_posix.h); paths are always printed as the raw bytes the file system gave.
// On Windows, texts and paths alike are UTF-8 inside and converted when written: to a console
// as UTF-16 (WriteConsoleW), so they show whatever its code page; to a file or pipe as the ANSI
// code page's bytes with every line ending "\r\n", as a C runtime in text mode writes them.
#pragma once

#include <string>
#include <string_view>

namespace tessaro {

// Prepares the console for the run: on Linux reads the locale from the environment and picks the
// encoding; on Windows lets a console show the status line's escape sequences where it can.
void InitConsole();

// True when standard error is a terminal (on Windows a console), where a status line belongs.
bool ErrorIsTerminal();

// Prints program text (converted as above) or raw bytes (on Windows UTF-8 like program text)
// to standard output.
void PrintText(std::string_view utf8);
void PrintRaw(std::string_view bytes);

// Hands everything printed so far to the system.
void FlushOutput();

// While one lives, what the calling thread prints to standard output is appended to `into`
// instead, to be printed later in its turn (groups joined side by side print in group order).
class OutputCapture {
public:
    explicit OutputCapture(std::string* into);
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

private:
    std::string* previous_;
};

// Prints prefix (program text), then path (raw), then suffix (program text).
void PrintWithPath(std::string_view prefix, std::string_view path, std::string_view suffix);

// Prints "tessaro: PATH: REASON" and a line break to standard error; path raw, reason as given.
void PrintError(std::string_view path, std::string_view reason);

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

}  // namespace tessaro
