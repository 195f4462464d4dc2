// The switch c of TAVUPD.EXE (-c, /C): check the installation profile and
// the kit directory, print the report and change nothing on the machine.
#pragma once

#include <string>

// True when an argument asks for the check: its second character is c or C.
// Arguments are taken as the driver takes them (the path after a lone -p is
// not a switch).
bool checkSwitchGiven(int argc, char **argv);

// True when an argument asks for the preview (-n, /N): the run on the
// machine as it is, with every change kept in memory, and a report of what
// it would do. Arguments are taken as for checkSwitchGiven.
bool previewSwitchGiven(int argc, char **argv);

// Checks the profile (the default one, or the one -p names) against the kit
// directory (the program's directory), prints the report on standard output
// and returns the exit status: 0 without errors, 1 with. It reads the
// profile and lists the directory, and does nothing else: no directory, no
// log, no INI file, no registry.
int runProfileCheck(int argc, char **argv, const std::string &programDirectory, const std::string &defaultProfile);
