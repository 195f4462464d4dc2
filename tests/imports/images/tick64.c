/* Imports GetTickCount64, which KERNEL32 exports from Windows Vista on. */
#define _WIN32_WINNT 0x0600
#include <windows.h>

int main(void) { return (int)(GetTickCount64() & 1); }
