/* Imports CreateToolhelp32Snapshot, which only the Windows 95 family exports. */
#include <windows.h>
#include <tlhelp32.h>

int main(void) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    return snapshot == INVALID_HANDLE_VALUE;
}
