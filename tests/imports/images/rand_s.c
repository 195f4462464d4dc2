/* Imports rand_s from CRTDLL.DLL, which exports no such function (through an
 * import library made from a .def file). */
int rand_s(unsigned int *value);

int main(void) {
    unsigned int value = 0;
    return rand_s(&value);
}
