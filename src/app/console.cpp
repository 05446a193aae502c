#include "app/console.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "os/console_io.h"

namespace tessaro {

namespace {

// The terminal is shared by the threads of a run: the status line and what is printed below it.
std::mutex g_terminal;
bool g_statusShown = false;
int g_statusColumns = 0;  // how wide the status line shown is

void ClearStatusLocked() {
    if (!g_statusShown) return;
    WriteErrorOutput(StatusErasing(g_statusColumns, ErrorErasesByEscape()));
    g_statusShown = false;
    g_statusColumns = 0;
}

// The length of the UTF-8 character that starts with lead.
std::size_t CharacterLength(unsigned char lead) {
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// Steps through utf8 by whole characters while they fit in `columns`; returns the bytes taken
// and, in used, the columns they fill.
std::size_t TakeColumns(std::string_view utf8, int columns, int& used) {
    used = 0;
    std::size_t end = 0;
    while (end < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[end]);
        const std::size_t length = CharacterLength(lead);
        if (end + length > utf8.size()) break;
        // U+1100 is E1 84 80: three-byte sequences from there up, and four-byte ones, are wide.
        const auto second = length > 1 ? static_cast<unsigned char>(utf8[end + 1]) : 0;
        const bool wide = length == 4 || (length == 3 && (lead > 0xE1 || (lead == 0xE1 && second >= 0x84)));
        const int width = wide ? 2 : 1;
        if (used + width > columns) break;
        used += width;
        end += length;
    }
    return end;
}

}  // namespace

void PrintRaw(std::string_view bytes) {
    const std::lock_guard<std::mutex> lock(g_terminal);
    ClearStatusLocked();
    WriteOutput(bytes);
}

void FlushOutput() { FlushConsoleOutput(); }

void PrintText(std::string_view utf8) { PrintRaw(ConsoleText(utf8)); }

void PrintWithPath(std::string_view prefix, std::string_view path, std::string_view suffix) {
    PrintText(prefix);
    PrintRaw(path);
    PrintText(suffix);
}

void PrintErrorRaw(std::string_view bytes) {
    const std::lock_guard<std::mutex> lock(g_terminal);
    ClearStatusLocked();
    WriteErrorOutput(bytes);
}

void PrintErrorText(std::string_view utf8) {
    const std::lock_guard<std::mutex> lock(g_terminal);
    ClearStatusLocked();
    WriteErrorOutput(ConsoleText(utf8));
}

std::string_view FitColumns(std::string_view utf8, int columns) {
    int used = 0;
    return utf8.substr(0, TakeColumns(utf8, columns, used));
}

int ColumnsOf(std::string_view utf8) {
    int used = 0;
    TakeColumns(utf8, static_cast<int>(std::min<std::size_t>(utf8.size() * 2, 1 << 30)), used);
    return used;
}

std::string StatusDrawing(std::string_view text, int textColumns, int previousColumns, bool byEscape) {
    std::string drawing = "\r";
    drawing.append(text);
    if (byEscape)
        drawing.append("\x1b[K");
    else if (previousColumns > textColumns)
        drawing.append(static_cast<std::size_t>(previousColumns - textColumns), ' ');
    return drawing;
}

std::string StatusErasing(int previousColumns, bool byEscape) {
    if (byEscape) return "\r\x1b[K";
    return "\r" + std::string(static_cast<std::size_t>(std::max(previousColumns, 0)), ' ') + "\r";
}

void ShowStatus(std::string_view utf8) {
    const std::lock_guard<std::mutex> lock(g_terminal);
    std::fflush(stdout);  // what stdout holds belongs above the status, on a shared terminal
    // The last column stays free: a character there makes some terminals wrap.
    if (const int columns = ErrorColumns(); columns > 0) utf8 = FitColumns(utf8, columns - 1);
    const int textColumns = ColumnsOf(utf8);
    WriteErrorOutput(StatusDrawing(ConsoleText(utf8), textColumns, g_statusColumns, ErrorErasesByEscape()));
    g_statusShown = true;
    g_statusColumns = textColumns;
}

void ClearStatus() {
    const std::lock_guard<std::mutex> lock(g_terminal);
    ClearStatusLocked();
}

}  // namespace tessaro
