/* Imports only what Windows 95 and NT 3.51 export: passes the check. */
#include <windows.h>

int main(void) { return (int)(GetTickCount() & 1); }
