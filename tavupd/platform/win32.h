// The Win32 implementation of the platform seam.
//
// Win32Platform performs every operation through a table of the raw Win32
// calls it needs (Win32Calls). The program's main function hands it the
// table: the release program the real functions (realWin32Calls), test
// builds a table whose entries count, fail or trace the calls before
// forwarding them. Nothing else in tavupd calls Win32 for the machine.
#pragma once

#include <windows.h>

#include "platform/machine.h"
#include "platform/platform.h"

namespace platform {

// The raw calls, with the signatures and meanings of the Win32 functions of
// the same names. GetDosFileTime and SetDosFileTime read and set the last
// write time of an open file as packed DOS date and time (local time).
// GetFileAttributesExA may fail with ERROR_CALL_NOT_IMPLEMENTED: the caller
// then asks the way the oldest systems answer.
struct Win32Calls {
    HANDLE(WINAPI *CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI *ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI *WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI *CloseHandle)(HANDLE);
    DWORD(WINAPI *SetFilePointer)(HANDLE, LONG, PLONG, DWORD);
    BOOL(WINAPI *GetDosFileTime)(HANDLE, WORD *, WORD *);
    BOOL(WINAPI *SetDosFileTime)(HANDLE, WORD, WORD);
    BOOL(WINAPI *MoveFileA)(LPCSTR, LPCSTR);
    BOOL(WINAPI *MoveFileExA)(LPCSTR, LPCSTR, DWORD);
    BOOL(WINAPI *DeleteFileA)(LPCSTR);
    DWORD(WINAPI *GetFileAttributesA)(LPCSTR);
    BOOL(WINAPI *CreateDirectoryA)(LPCSTR, LPSECURITY_ATTRIBUTES);
    BOOL(WINAPI *RemoveDirectoryA)(LPCSTR);
    HANDLE(WINAPI *FindFirstFileA)(LPCSTR, LPWIN32_FIND_DATAA);
    BOOL(WINAPI *FindNextFileA)(HANDLE, LPWIN32_FIND_DATAA);
    BOOL(WINAPI *FindClose)(HANDLE);
    UINT(WINAPI *GetWindowsDirectoryA)(LPSTR, UINT);
    BOOL(WINAPI *GetVersionExA)(LPOSVERSIONINFOA);
    DWORD(WINAPI *GetCurrentProcessId)();
    DWORD(WINAPI *GetEnvironmentVariableA)(LPCSTR, LPSTR, DWORD);
    BOOL(WINAPI *CreateProcessA)(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                                 LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION);
    DWORD(WINAPI *GetModuleFileNameA)(HMODULE, LPSTR, DWORD);
    DWORD(WINAPI *GetFullPathNameA)(LPCSTR, DWORD, LPSTR, LPSTR *);
    DWORD(WINAPI *GetShortPathNameA)(LPCSTR, LPSTR, DWORD);
    LONG(WINAPI *RegOpenKeyExA)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
    LONG(WINAPI *RegQueryValueExA)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
    LONG(WINAPI *RegCreateKeyExA)(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD);
    LONG(WINAPI *RegSetValueExA)(HKEY, LPCSTR, DWORD, DWORD, const BYTE *, DWORD);
    LONG(WINAPI *RegDeleteValueA)(HKEY, LPCSTR);
    LONG(WINAPI *RegDeleteKeyA)(HKEY, LPCSTR);
    LONG(WINAPI *RegEnumKeyExA)(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPSTR, LPDWORD, PFILETIME);
    LONG(WINAPI *RegEnumValueA)(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
    LONG(WINAPI *RegQueryInfoKeyA)(HKEY, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD,
                                   LPDWORD, LPDWORD, PFILETIME);
    LONG(WINAPI *RegCloseKey)(HKEY);
    // Null where the system has none (Windows 95, NT 3.51): it is looked up
    // when the program runs, never imported.
    BOOL(WINAPI *GetFileAttributesExA)(LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID);
};

// The table of the real functions.
const Win32Calls &realWin32Calls();

class Win32Platform : public Platform, public AccessProbe {
  public:
    // The table must outlive the platform.
    explicit Win32Platform(const Win32Calls &calls) : calls_(calls) {}

    // Whether the change could be made now, asked by opening the existing
    // file for the access the change needs and closing it again (writing to
    // append; deletion on the NT family, an open that shares nothing on the
    // Windows 95 family, to rename, replace or delete): a file another
    // program holds open so gives kSharingViolation. Nothing of the file
    // changes. A directory may be renamed; any other change of one is
    // kAccessDenied.
    Code probe(const std::string &path, Access access) override;

    // Now as local time, in 100 ns units since 1601: the clock of a machine
    // in memory that dates files as this machine does.
    std::uint64_t localNow();

    Attributes attributes(const std::string &path) override;
    Result<FileInfo> info(const std::string &path) override;
    Result<DosTime> readableTime(const std::string &path) override;
    Result<std::string> readAll(const std::string &path) override;
    Code writeNew(const std::string &path, const std::string &bytes,
                  const std::optional<DosTime> &time = std::nullopt) override;
    CopyOutcome copyNew(const std::string &source, const std::string &target) override;
    Code move(const std::string &from, const std::string &to) override;
    Code replace(const std::string &from, const std::string &to) override;
    Code remove(const std::string &path) override;
    Code makeDirectory(const std::string &path) override;
    Code removeDirectory(const std::string &path) override;
    Result<std::vector<DirEntry>> list(const std::string &directory) override;
    Code delayMove(const std::string &from, const std::optional<std::string> &to) override;
    std::unique_ptr<Appender> openAppender(const std::string &path, bool truncate) override;
    Result<std::unique_ptr<Reader>> openRead(const std::string &path) override;
    Result<std::unique_ptr<Writer>> createNew(const std::string &path) override;
    std::uint64_t fileChanges() const override { return fileChanges_; }

    Code regOpenable(Root root, const std::string &path, bool forWriting) override;
    Result<RegValue> regRead(Root root, const std::string &path, const std::string *name, std::size_t maxBytes,
                             RegStage *failedAt = nullptr) override;
    RegOutcome regSet(Root root, const std::string &path, const std::string *name, const RegValue &value) override;
    RegOutcome regDeleteValue(Root root, const std::string &path, const std::string &name) override;
    Result<std::vector<std::string>> regSubkeys(Root root, const std::string &path,
                                                RegStage *failedAt = nullptr) override;
    Result<std::vector<RegNamedValue>> regValues(Root root, const std::string &path,
                                                 RegStage *failedAt = nullptr) override;
    RegOutcome regDeleteKey(Root root, const std::string &path) override;

    std::optional<std::string> windowsDirectory() override;
    VersionInfo version() override;
    std::uint32_t processId() override;
    std::optional<std::string> environment(const std::string &name) override;
    std::optional<std::string> moduleFileName() override;
    bool startProcess(const std::string &application, const std::string &commandLine) override;
    std::optional<std::string> fullPathName(const std::string &path) override;
    std::optional<std::string> shortPathName(const std::string &path) override;

  private:
    const Win32Calls &calls_;
    std::uint64_t fileChanges_ = 0;
};

} // namespace platform
