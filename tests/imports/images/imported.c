/* Calls a function that an import library made from a .def file imports
 * from KERNEL32 by ordinal. */
void imported(void);

int main(void) {
    imported();
    return 0;
}
