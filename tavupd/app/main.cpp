// Entry of TAVUPD.EXE: the driver on the real Win32 calls.
#include "app/run.h"

int main(int argc, char **argv) { return app::run(argc, argv, platform::realWin32Calls()); }
