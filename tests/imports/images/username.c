/* Imports GetUserNameA, an ADVAPI32 function the programs may not use. */
#include <windows.h>

int main(void) {
    char name[64];
    DWORD size = sizeof name;
    return GetUserNameA(name, &size) ? 0 : 1;
}
