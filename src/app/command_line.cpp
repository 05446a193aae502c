#include "app/command_line.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <iostream>
#include <iterator>
#include <optional>
#include <csignal>
#include <string>
#include <string_view>

#include "app/batch_driver.h"
#include "app/console.h"
#include "app/messages.h"
#include "sandbox/client.h"
#include "os/error_text.h"
#include "os/file_io.h"
#include "os/interrupt.h"
#include "tiff/tiff_reader.h"

namespace tessaro {

namespace {

// The most groups a run is asked to join side by side.
constexpr int kMaxJobs = 4096;

bool ParseJobs(std::string_view text, int* jobs) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > kMaxJobs)
        return false;
    *jobs = value;
    return true;
}

// The directories a manifest lists: its entries, each ended by a line break (or a NUL), the
// empty ones left out. Empty, with *error set, when it cannot be read.
std::optional<std::vector<std::string>> ReadManifest(const std::string& path, bool nulSeparated,
                                                     int* error) {
    std::string text;
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        const UniqueFd file = OpenToRead(path);
        if (!file || !RegularFileSize(file.get())) {
            *error = file ? EINVAL : errno;
            return std::nullopt;
        }
        char buffer[65536];
        for (int64_t got; (got = ReadAt(file.get(), buffer, sizeof buffer, text.size())) > 0;)
            text.append(buffer, static_cast<std::size_t>(got));
    }
    std::vector<std::string> dirs;
    const char separator = nulSeparated ? '\0' : '\n';
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        std::size_t length = end - start;
#ifdef _WIN32
        // Lines of Windows text end in CR LF; no Windows name ends in a CR.
        if (!nulSeparated && length > 0 && text[end - 1] == '\r') --length;
#endif
        if (length > 0) dirs.push_back(text.substr(start, length));
        start = end + 1;
    }
    return dirs;
}

CommandLine Wrong(std::string what) {
    CommandLine line;
    line.action = CommandLine::Action::wrong;
    line.wrong = std::move(what);
    return line;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    if (args.size() < 2) return line;
    if (args[1] == "/?") {
        line.action = CommandLine::Action::oldHelp;
        return line;
    }
    std::size_t i = 1;
    for (; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') break;  // DIR ("-" alone names a directory too)
        if (arg == "--help" || arg == "--version") {
            line.action = arg == "--help" ? CommandLine::Action::help : CommandLine::Action::version;
            return line;
        }
        if (arg == "--list" || arg == "-0" || arg == "--null") {
            (arg == "--list" ? line.list : line.nul) = true;
            continue;
        }
        if (arg == "-n" || arg == "--dry-run") {
            line.dryRun = true;
            continue;
        }
        // A long option's file: "--NAME FILE" or "--NAME=FILE".
        std::string_view name;
        std::string* file = nullptr;
        for (auto [option, value] : {std::pair{std::string_view("--from"), &line.from},
                                     std::pair{std::string_view("--report"), &line.report}})
            if (arg == option || (arg.starts_with(option) && arg[option.size()] == '=')) {
                name = option;
                file = value;
            }
        if (file) {
            const std::string missing = "option '" + std::string(name) + "' requires an argument";
            if (arg == name && ++i == args.size()) return Wrong(missing);
            *file = arg == name ? args[i] : std::string(arg.substr(name.size() + 1));
            if (file->empty()) return Wrong(missing);
            continue;
        }
        std::string_view value;
        if (arg == "-j" || arg == "--jobs") {
            if (++i == args.size()) return Wrong("option '" + std::string(arg) + "' requires an argument");
            value = args[i];
        } else if (arg.substr(0, 7) == "--jobs=") {
            value = arg.substr(7);
        } else if (arg.substr(0, 2) == "-j") {
            value = arg.substr(2);
        } else {
            return Wrong((arg.substr(0, 2) == "--" ? "unrecognized option '" : "invalid option '") +
                         std::string(arg) + "'");
        }
        if (!ParseJobs(value, &line.jobs))
            return Wrong("invalid number of jobs: '" + std::string(value) + "'");
    }
    line.action = CommandLine::Action::run;
    if (!line.from.empty()) {
        if (line.list) return Wrong("--list and --from do not go together");
        line.deleteSources = i < args.size() && args[i] == "1";
        return line;
    }
    if (i == args.size()) return Wrong("missing directory");
    line.dir = args[i];
    line.deleteSources = i + 1 < args.size() && args[i + 1] == "1";
    return line;
}

int RunCommandLine(const std::vector<std::string>& args) {
    InitConsole();
#ifdef SIGXFSZ
    // Under a file-size limit, a mosaic that does not fit must fail its save like a full disk
    // does, instead of killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    const CommandLine line = ParseCommandLine(args);
    switch (line.action) {
        case CommandLine::Action::usage: PrintText(UsageText()); return 0;
        case CommandLine::Action::oldHelp: PrintText(HelpText()); return 0;
        case CommandLine::Action::help: PrintText(OptionsHelpText(UserReadsChinese())); return 0;
        case CommandLine::Action::version: PrintText(VersionText(LibtiffVersion())); return 0;
        case CommandLine::Action::wrong: PrintErrorText(WrongArgumentsText(line.wrong)); return 2;
        case CommandLine::Action::run: break;
    }
    // Before anything else is under way, so that the helper that forks the decoders is small.
    DecoderChild::AtProcessStart();
    CatchInterrupts();
    const NameBytes errorNames = ErrorIsTerminal() ? NameBytes::escaped : NameBytes::exact;
    if (line.list) {
        const std::optional<GroupList> groups = ScanTree(line.dir);
        if (!groups) return 2;
        ListGroups(*groups, line.nul);
        return 0;
    }
    RunOptions options{line.deleteSources, line.dryRun, ErrorIsTerminal(), line.jobs, -1, line.report};
    UniqueFd report;
    if (!line.report.empty()) {
        report = OpenToWrite(line.report);
        if (!report) {
            PrintErrorRaw(ErrorLine(line.report, ErrorReason(errno), errorNames));
            return 2;
        }
        options.reportFd = report.get();
    }
    BatchOutcome outcome;
    if (line.from.empty()) {
        outcome = SpliceTree(line.dir, options);
    } else {
        int error = 0;
        const std::optional<std::vector<std::string>> dirs = ReadManifest(line.from, line.nul, &error);
        if (!dirs) {
            PrintErrorRaw(ErrorLine(line.from, ErrorReason(error), errorNames));
            return 2;
        }
        GroupList listed;
        for (const std::string& dir : *dirs) AddGroup(listed, ScanOneDirectory(dir, ".tif"));
        outcome = SpliceGroups(std::move(listed), options);
    }
    ResignalIfInterrupted();
    switch (outcome) {
        case BatchOutcome::allSaved: return 0;
        case BatchOutcome::someFailed: return 1;
        case BatchOutcome::rootUnreadable: return 2;
    }
    return 2;
}

}  // namespace tessaro
