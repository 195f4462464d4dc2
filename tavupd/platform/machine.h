// What the in-memory machines (MemoryPlatform, OverlayPlatform) share: the
// clock they date new files with, the question only the real machine can
// answer (may this existing file be changed now?), and the records of what
// they were asked to do but do not carry out (restart registrations,
// programs to start).
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// Now, in 100 ns units since 1601-01-01, in the time the machine's files
// show: the machines in memory keep no time zone, so a clock that should
// date files as the machine would gives local time (see
// Win32Platform::localNow).
using Clock = std::function<std::uint64_t()>;

// The DOS date and time of a moment of such a clock, as a file's last write
// shows it (seconds rounded down to even; clamped to 1980-2107), and back.
DosTime localDosTime(std::uint64_t moment);
std::uint64_t fromLocalDosTime(DosTime time);

// A change to something that exists, which the machine may refuse now: the
// file is held open by a program, read-only, or a directory holds such a
// file.
enum class Access {
    Remove,    // deleted
    Rename,    // moved to another name (a file or a directory)
    Overwrite, // replaced by another file in one step
    Append,    // opened for appending
};

class AccessProbe {
  public:
    virtual ~AccessProbe() = default;
    // kOk when the machine would let the change be made now, else the error
    // the change would fail with (kSharingViolation for a file in use,
    // kAccessDenied for a read-only file or a directory where a file is
    // due). Changes nothing.
    virtual Code probe(const std::string &path, Access access) = 0;
};

// A rename (or, without a target, a deletion) registered for the next start
// of Windows.
struct PendingMove {
    std::string from;
    std::optional<std::string> to;
    bool operator==(const PendingMove &o) const { return from == o.from && to == o.to; }
};

struct StartedProcess {
    std::string application;
    std::string commandLine;
    bool operator==(const StartedProcess &o) const {
        return application == o.application && commandLine == o.commandLine;
    }
};

// A Reader over bytes held in memory, dated `time`.
std::unique_ptr<Reader> bytesReader(std::string bytes, DosTime time);

// The replacing rename is missing on the Windows 95 family (and Win32s).
inline bool lacksReplacingRename(const VersionInfo &v) { return v.known && v.platformId != 2; }

} // namespace platform
