#include "app/command_line.h"

int main(int argc, char** argv) { return tessaro::RunCommandLine(tessaro::ProgramArguments(argc, argv)); }
