// The chartlab commands and the dispatch from the program's command line to one of them.
//
//   chartlab COMMAND [options]   runs COMMAND with its own options
//   chartlab COMMAND -h          explains COMMAND
//   chartlab -h | --help         lists the commands
//   chartlab --version           prints the project's version
//
// A command is one source file defining its run function, declared here and listed in the
// table of commands.cpp. The run function gets the arguments after the command's name, with
// argv[0] set to "chartlab COMMAND", and returns the exit status (cli.h).
#pragma once

struct Command {
    const char* name;     // the word after "chartlab"
    const char* summary;  // one line for the command list
    int (*run)(int argc, char** argv);
};

int RunConvert(int argc, char** argv);
int RunInvert(int argc, char** argv);
int RunProfile(int argc, char** argv);
int RunCheck(int argc, char** argv);

// The whole program: returns its exit status.
int RunChartlab(int argc, char** argv);
