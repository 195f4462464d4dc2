// Linked into a test build of TAVUPD.EXE (tavupd_wide95.exe): the program
// meets the wide-character functions of KERNEL32 the way Windows 95 exports
// them, as stubs that do nothing but fail with ERROR_CALL_NOT_IMPLEMENTED.
//
// Before any start-up code of the program runs (a TLS callback runs when the
// process attaches, ahead of the C run-time's entry point and of every
// static constructor), each ...W function the program imports is pointed at
// such a failing stub in the program's import address table. An imported
// wide function this file has no stub for ends the process at once with
// status 97, so a new one cannot slip past the test unnoticed.
//
// TAVUPD_WIDE_REPORT=<file>: every stub call appends a line "failed <name>",
// and every patched import a line "stubbed <name>", to that file.
#include <windows.h>

#include <cstring>

namespace {

void report(const char *what, const char *name) {
    char path[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableA("TAVUPD_WIDE_REPORT", path, sizeof path);
    if (n == 0 || n >= sizeof path) return;
    const HANDLE file = ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    ::SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD done = 0;
    ::WriteFile(file, what, static_cast<DWORD>(std::strlen(what)), &done, nullptr);
    ::WriteFile(file, " ", 1, &done, nullptr);
    ::WriteFile(file, name, static_cast<DWORD>(std::strlen(name)), &done, nullptr);
    ::WriteFile(file, "\r\n", 2, &done, nullptr);
    ::CloseHandle(file);
}

// What every stub of Windows 95 does: nothing, then report the call as not
// implemented with the failure value 0 (NULL, FALSE).
template <typename T> T notImplemented(const char *name) {
    report("failed", name);
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return T();
}

HANDLE WINAPI stubCreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR) {
    return notImplemented<HANDLE>("CreateSemaphoreW");
}
HANDLE WINAPI stubCreateEventW(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR) {
    return notImplemented<HANDLE>("CreateEventW");
}
HANDLE WINAPI stubCreateMutexW(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR) { return notImplemented<HANDLE>("CreateMutexW"); }
HMODULE WINAPI stubGetModuleHandleW(LPCWSTR) { return notImplemented<HMODULE>("GetModuleHandleW"); }
HMODULE WINAPI stubLoadLibraryW(LPCWSTR) { return notImplemented<HMODULE>("LoadLibraryW"); }
DWORD WINAPI stubGetModuleFileNameW(HMODULE, LPWSTR, DWORD) { return notImplemented<DWORD>("GetModuleFileNameW"); }
DWORD WINAPI stubGetEnvironmentVariableW(LPCWSTR, LPWSTR, DWORD) {
    return notImplemented<DWORD>("GetEnvironmentVariableW");
}
HANDLE WINAPI stubCreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    report("failed", "CreateFileW");
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return INVALID_HANDLE_VALUE;
}
void WINAPI stubOutputDebugStringW(LPCWSTR) { report("failed", "OutputDebugStringW"); }

template <typename F> ULONG_PTR address(F *function) { return reinterpret_cast<ULONG_PTR>(function); }

// The stub for a wide function, 0 when there is none. A function rather than
// a table: the callback runs before any static initialisation.
ULONG_PTR stubFor(const char *name) {
    struct Entry {
        const char *name;
        ULONG_PTR stub;
    };
    const Entry entries[] = {
        {"CreateSemaphoreW", address(&stubCreateSemaphoreW)},
        {"CreateEventW", address(&stubCreateEventW)},
        {"CreateMutexW", address(&stubCreateMutexW)},
        {"GetModuleHandleW", address(&stubGetModuleHandleW)},
        {"LoadLibraryW", address(&stubLoadLibraryW)},
        {"GetModuleFileNameW", address(&stubGetModuleFileNameW)},
        {"GetEnvironmentVariableW", address(&stubGetEnvironmentVariableW)},
        {"CreateFileW", address(&stubCreateFileW)},
        {"OutputDebugStringW", address(&stubOutputDebugStringW)},
    };
    for (const Entry &e : entries) {
        if (std::strcmp(e.name, name) == 0) return e.stub;
    }
    return 0;
}

// A wide-character function: a name ending in a capital W after a lower-case
// letter (CreateSemaphoreW, lstrlenW).
bool isWide(const char *name) {
    const std::size_t n = std::strlen(name);
    return n >= 2 && name[n - 1] == 'W' && name[n - 2] >= 'a' && name[n - 2] <= 'z';
}

void NTAPI stubWideImports(PVOID module, DWORD reason, PVOID) {
    if (reason != DLL_PROCESS_ATTACH) return;
    auto *const base = static_cast<BYTE *>(module);
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return;
    for (auto *d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress); d->Name != 0;
         ++d) {
        const DWORD namesAt = d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk : d->FirstThunk;
        const auto *names = reinterpret_cast<const IMAGE_THUNK_DATA *>(base + namesAt);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto *byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            const char *name = reinterpret_cast<const char *>(byName->Name);
            if (!isWide(name)) continue;
            const ULONG_PTR stub = stubFor(name);
            if (stub == 0) {
                report("no stub for", name);
                ::ExitProcess(97);
            }
            DWORD protection = 0;
            if (!::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) {
                report("cannot stub", name);
                ::ExitProcess(97);
            }
            slots->u1.Function = stub;
            ::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            report("stubbed", name);
        }
    }
}

} // namespace

// In the image's list of TLS callbacks (the sections .CRT$XLA to .CRT$XLZ),
// ahead of the C run-time's own.
extern "C" __attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK tavupdWideStubsCallback =
    stubWideImports;
