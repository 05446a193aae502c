// Every line the user sees: the progress and outcome lines of each group, the error that ends a
// run before it starts, usage and help, and the status and summary lines of a terminal. Program
// text is UTF-8 here; the functions that return a line with a path in it return it as console
// bytes (program text converted for the console, paths as they are).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/status_line.h"
#include "group/group_outcome.h"
#include "scan/tile_scan.h"

namespace tessaro {

// How a name (a path) goes into a line: as the file system's bytes, for a file or a pipe, where
// scripts read them; or, for a terminal, with every control character in it (C0 with CR and LF,
// ESC, DEL, and the C1 range) escaped as a backslash sequence, so no name can move the cursor,
// rewrite what is shown or set the window title. On Linux (with a UTF-8 console) a backslash is
// then doubled, so the escaped form reads back unambiguously.
enum class NameBytes { exact, escaped };

// The name as it is shown.
std::string ShownName(std::string_view name, NameBytes how);

// " ++ 3/10 ++   path: DIR" and a line break, as console bytes.
std::string ProgressLine(int groupNumber, int groupTotal, std::string_view dir, NameBytes how);

// The group's one outcome line, as console bytes; empty for an abandoned group.
std::string OutcomeLine(const GroupOutcome& outcome, const ScannedGroup& group, NameBytes how);

// A dry run's line for a group that would be saved: where its mosaic would go, and (with the
// delete switch) how many tiles would then be deleted.
std::string CheckedLine(std::string_view mosaicPath, std::size_t tilesToDelete, NameBytes how);

// The outcome line of tiles whose sizes do not make a mosaic (tileCount of them).
std::string LayoutFailureText(const LayoutFailure& failure, std::size_t tileCount);

// "tessaro: PATH: REASON" and a line break, as console bytes (reason as given).
std::string ErrorLine(std::string_view path, std::string_view reason, NameBytes how);

// What the program prints without arguments, and for "/?" (as it always has).
std::string UsageText();
std::string HelpText();

// What --help prints: the options and arguments, in Chinese or in English.
std::string OptionsHelpText(bool chinese);

// What --version prints: the program's version and the libtiff it uses.
std::string VersionText(const std::string& libtiff);

// What a wrong command line gets on standard error ("tessaro: WHAT" and where to read more).
std::string WrongArgumentsText(const std::string& what);

// "组 3/10  45%  12.3 MB/s  剩余 0:42": the latest group and the total, the share written of the
// mosaics in flight, tile bytes read per second, and the time left for the tiles still to read
// at that pace ("--:--" until something has been read).
std::string ProgressText(const RunProgress& progress, double seconds);

// The run's last line on a terminal, with its line break.
std::string SummaryText(const RunTally& tally, double seconds);

}  // namespace tessaro
