# The programs that ship: 32-bit Windows executables built with the mingw-w64
# i686 compilers of the win32 thread model (no winpthreads, whose imports the
# older systems lack) and linked against CRTDLL.DLL, the C run-time every
# Windows 95 and NT 3.51 has, instead of MSVCRT.DLL (crtdll-link.gcc).
#
# A tree configured with this file builds only TAVUPD.EXE, RESTARTER.EXE, the
# release kit and the import check (tests/imports): GoogleTest needs thread
# types this thread model lacks, so the tests are built by cmake/mingw-i686.cmake
# in a tree of their own and run these programs from here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-specs=${CMAKE_CURRENT_LIST_DIR}/crtdll-link.gcc")
set(TAVUPD_SHIP ON)
