// The console entry: reads the arguments, prints usage, help or the version, or runs the batch.
#pragma once

#include <string>
#include <vector>

namespace tessaro {

// What the arguments ask for. Options come before DIR, GNU style ("--" ends them); "tessaro DIR",
// "tessaro DIR 1" and "tessaro /?" mean what they always did. With --from there is no DIR: the
// only operand is the delete switch ("tessaro --from LIST 1").
struct CommandLine {
    enum class Action { usage, oldHelp, help, version, run, wrong };
    Action action = Action::usage;
    std::string dir;
    bool deleteSources = false;  // the argument after DIR is exactly "1"
    int jobs = 0;                // -j N: at most N groups at a time; 0 for the default
    bool list = false;           // --list: print the group directories, join nothing
    bool nul = false;            // -0: the manifest's entries (out or in) end with a NUL
    std::string from;            // --from FILE ("-": standard input): join the directories listed
    bool dryRun = false;         // -n: measure and check every group, write and delete nothing
    std::string report;          // --report FILE: a JSON line per group
    std::string wrong;           // what is wrong with the arguments, for Action::wrong
};

// args[0] is the program.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Returns the process exit status.
int RunCommandLine(const std::vector<std::string>& args);

}  // namespace tessaro
