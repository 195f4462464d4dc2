/* What TAVUPD.EXE needs of the C run-time beyond what CRTDLL.DLL exports, for
 * the programs linked against CRTDLL (cmake/mingw-i686-ship.cmake). */
#include <errno.h>

/* FILE, declared here: <stdio.h> declares the stream locks as DLL imports. */
struct _iobuf;

/* Three names the static C++ library refers to. Only std::random_device uses
 * them, which the programs never construct, but the library's string code,
 * linked into every program that uses std::string, refers to it. */

int _read(int fd, void *buffer, unsigned int count);
int _close(int fd);

/* The POSIX names are the underscore functions under another name, as the
 * import library of MSVCRT.DLL makes them. */
int read(int fd, void *buffer, unsigned int count) { return _read(fd, buffer, count); }
int close(int fd) { return _close(fd); }

/* CRTDLL has no source of random numbers: a random_device drawing from this
 * one throws std::runtime_error instead of handing out a number. The library
 * calls it as a DLL function, through its import pointer. */
static int noRandomNumbers(unsigned int *value) {
    if (value != 0) *value = 0;
    return EINVAL;
}
int (*_imp__rand_s)(unsigned int *) = noRandomNumbers;

/* The stream locks around formatted printing (fprintf). The toolchain's own
 * version for CRTDLL takes a stream beyond the first 20 for MSVCRT's larger
 * stream record and enters a critical section inside it, past the end of
 * CRTDLL's record, and marks the others with a flag bit of MSVCRT's. The
 * programs run a single thread: a stream needs no lock, and CRTDLL's own
 * records stay exactly as CRTDLL keeps them. */
void _lock_file(struct _iobuf *stream) { (void)stream; }
void _unlock_file(struct _iobuf *stream) { (void)stream; }
