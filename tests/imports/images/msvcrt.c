/* Linked against MSVCRT.DLL (first part of Windows in Windows 2000). */
#include <stdlib.h>
#include <string.h>

int main(void) {
    char *copy = _strdup("x");
    const int status = copy == NULL || copy[0] != 'x';
    free(copy);
    return status;
}
