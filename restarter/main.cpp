// Entry of RESTARTER.EXE. The command line and the other parameters are
// ignored: the program always asks the same question.
#include "restarter.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return restarter::run(restarter::realPlatformCalls()); }
