// The report --report FILE writes: one JSON object per group, one per line (JSON Lines), in group
// order, each written as its group's lines are printed, for scripts to read instead of the log.
//
//   {"dir":"/archive/a/0001","outcome":"saved","tiles":4,"mosaic":"/archive/a/0001/0001.bmp","deleted":4}
//
// outcome: saved, checked (a dry run found it would be saved), count, unreadable, size_mismatch,
// too_large, read_failed, save_failed, as the outcome lines say. mosaic: the mosaic's path when
// saved (or, in a dry run, where it would be), else null. deleted: the tiles this run deleted.
//
// Paths are JSON strings, and so UTF-8. A Linux path may hold bytes that are not UTF-8: each such
// byte B is written as the escape \udcXX of the lone surrogate U+DC00 + B (as Python's
// surrogateescape decodes it), which no UTF-8 text gives, so the exact bytes are had back with
// os.fsencode(json.loads(line)["dir"]).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "group/group_outcome.h"
#include "scan/group_list.h"

namespace tessaro {

// The bytes as a JSON string, quotes included.
std::string JsonString(std::string_view bytes);

// The group's report line, ending with a line break.
std::string ReportLine(const ScannedGroup& group, const GroupOutcome& outcome,
                       const std::optional<std::string>& mosaicPath);

}  // namespace tessaro
