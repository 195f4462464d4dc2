// The copy by date with an ".OLD" backup: made now under a work name beside
// the destination and renamed into place when complete, or staged and
// registered to replace the destination at the next start of Windows.
#include "files/operation.h"

#include <algorithm>
#include <memory>
#include <new>
#include <set>
#include <stdexcept>

#include "text/paths.h"
#include "text/subst.h"
#include "text/textkit.h"

namespace files::detail {
namespace {

// Deletes the work files that copies cut short (a power failure) left in
// the directory: such a file is never part of the product. A file that
// cannot be deleted (another run is writing it) is left alone. A directory
// this run swept already is not listed again.
void removeStrayWorkFiles(Operation &op, const std::string &directory) {
    if (text::joinPath(directory, "~C*").size() > text::kPathMax) return;
    std::set<std::string> *swept = op.setup().sweptDirectories;
    if (swept != nullptr) {
        std::string key = directory;
        for (char &c : key) c = text::upper(c);
        if (!swept->insert(key).second) return;
    }
    const auto entries = op.os().list(directory);
    if (!entries.ok()) return;
    for (const platform::DirEntry &entry : entries.value) {
        if (entry.directory || !isWorkFileName(entry.name)) continue;
        const std::string stray = text::joinPath(directory, entry.name);
        if (stray.size() <= text::kPathMax) op.remove(stray);
    }
}

// Writes all of the bytes, in pieces no larger than the transfer buffer.
bool writeAll(platform::Writer &out, const char *data, std::size_t size) {
    while (size > 0) {
        const std::size_t piece = std::min(size, kTransferBufferSize);
        if (out.write(data, piece) != platform::kOk) return false;
        data += piece;
        size -= piece;
    }
    return true;
}

enum class Transfer { Done, ReadFailed, WriteFailed };

// Copies the rest of `in` to `out`; with a list, every line expanded. May
// throw std::bad_alloc or std::length_error.
Transfer transfer(platform::Reader &in, platform::Writer &out, const SubstituteClass *expand) {
    // One transfer buffer for the copy; a large one keeps the number of
    // read and write calls down.
    const std::unique_ptr<char[]> buffer(new char[kTransferBufferSize]);
    std::optional<LineExpander> expander;
    if (expand != nullptr) expander.emplace(*expand);
    std::string expanded;
    for (;;) {
        const platform::Result<std::size_t> got = in.read(buffer.get(), kTransferBufferSize);
        if (!got.ok()) return Transfer::ReadFailed;
        if (got.value == 0) break;
        if (!expander) {
            if (!writeAll(out, buffer.get(), got.value)) return Transfer::WriteFailed;
            continue;
        }
        expanded.clear();
        expander->feed(buffer.get(), got.value, expanded);
        if (!writeAll(out, expanded.data(), expanded.size())) return Transfer::WriteFailed;
    }
    if (expander) {
        expanded.clear();
        expander->finish(expanded);
        if (!writeAll(out, expanded.data(), expanded.size())) return Transfer::WriteFailed;
    }
    return Transfer::Done;
}

// Transfer with the failures of memory for an expanded line counted as a
// write that failed.
Transfer transferWhole(platform::Reader &in, platform::Writer &out, const SubstituteClass *expand) {
    try {
        return transfer(in, out, expand);
    } catch (const std::bad_alloc &) {
        return Transfer::WriteFailed; // no room for a line's expansion
    } catch (const std::length_error &) {
        return Transfer::WriteFailed;
    }
}

// One copy from a source directory to a destination directory.
class Copy {
  public:
    Copy(Operation &op, const std::string &sourceDir, const std::string &destDir, const std::string *tempDirectory,
         const std::string &sourceName, const std::string &destName, const SubstituteClass *expand)
        : op_(op), sourceDir_(sourceDir), destDir_(destDir), tempDirectory_(tempDirectory), sourceName_(sourceName),
          expand_(expand), source_(text::joinPath(sourceDir, sourceName)),
          destination_(text::joinPath(destDir, destName)) {}

    CopyResult run(int force, int backup);

  private:
    void openSource();
    void probeDestination();
    bool backUpOlderAtOnce(int backup);
    void backUpDestination();
    CopyResult place(int force);
    CopyResult deferCopy(CopyResult result, int force);
    // Writes the copy under a work name and renames it into place. False
    // when the copy has to wait for the restart instead.
    bool copyNow();
    // copyNow through the work name `work`; nothing when that name is taken.
    std::optional<bool> copyThrough(const std::string &work);
    void restoreBackup();

    Operation &op_;
    const std::string &sourceDir_;
    const std::string &destDir_;
    const std::string *tempDirectory_;
    const std::string &sourceName_;
    const SubstituteClass *expand_;
    const std::string source_;
    const std::string destination_;

    std::unique_ptr<platform::Reader> in_;
    platform::DosTime sourceTime_;
    int64_t sourceStamp_ = 0;
    bool destExists_ = false;
    // The probe found no file of the destination's name.
    bool destAbsent_ = false;
    int64_t destStamp_ = 0;
    // Whether this copy moved the original to its backup name at once; a
    // failure further on moves it back so that the user's file survives.
    bool backupMovedNow_ = false;
    std::string backupName_;
};

void Copy::openSource() {
    auto opened = op_.os().openRead(source_);
    if (!opened.ok()) TVPFILE_RAISE(20, source_);
    in_ = std::move(opened.value);
    const platform::Result<platform::DosTime> time = in_->time();
    if (!time.ok()) TVPFILE_RAISE(28, source_);
    sourceTime_ = time.value;
    sourceStamp_ = text::dosTimeToCalendar(sourceTime_.date, sourceTime_.time);
}

// A destination that cannot be opened for reading counts as absent.
void Copy::probeDestination() {
    auto probe = op_.os().openRead(destination_);
    if (!probe.ok()) {
        destAbsent_ = platform::isNotFound(probe.code);
        return;
    }
    destExists_ = true;
    const platform::Result<platform::DosTime> time = probe.value->time();
    if (!time.ok()) TVPFILE_RAISE(28, destination_);
    destStamp_ = text::dosTimeToCalendar(time.value.date, time.value.time);
}

// The usual install over an older file with a backup: the destination's
// date is taken from its directory entry (nothing is opened) and the file
// is moved to its backup name at once; a file that can be renamed is there
// and not in use. False leaves every other case (no backup kept, a newer
// file, an old backup in the way, a file in use) to the probe by opening.
bool Copy::backUpOlderAtOnce(int backup) {
    if (!backup || op_.pending) return false;
    const platform::Result<platform::FileInfo> entry = op_.os().info(destination_);
    if (!entry.ok() || entry.value.directory || !entry.value.writtenDos) return false;
    const int64_t stamp = text::dosTimeToCalendar(entry.value.writtenDos->date, entry.value.writtenDos->time);
    if (stamp >= sourceStamp_) return false;
    const std::string backupName = backupNameOf(destination_);
    if (backupName.size() > text::kPathMax || samePath(backupName, destination_)) return false;
    if (op_.move(destination_, backupName) != platform::kOk) return false;
    backupName_ = backupName;
    backupMovedNow_ = true;
    destExists_ = true;
    destStamp_ = stamp;
    return true;
}

void Copy::backUpDestination() {
    backupName_ = backupNameOf(destination_);
    if (samePath(backupName_, destination_)) {
        // The destination has its own backup name (X.OLD): no backup is
        // kept, for moving it onto itself would erase it.
        if (op_.debug()) op_.trace("\t\tNo Backup : ", destination_);
        return;
    }
    backupMovedNow_ = op_.renameWhole(destination_, backupName_, 1, 0);
}

void Copy::restoreBackup() {
    if (backupMovedNow_ && !exists(destination_)) op_.move(backupName_, destination_);
}

CopyResult Copy::run(int force, int backup) {
    if (source_.size() > text::kPathMax) TVPFILE_RAISE(20, source_);
    if (destination_.size() > text::kPathMax) TVPFILE_RAISE(21, destination_);
    if (op_.debug()) {
        op_.trace("\t\tCopy Src File  : ", source_);
        op_.trace("\t\tCopy Dest File : ", destination_);
    }
    openSource();
    // A file copied onto itself is in place already; backing it up or
    // staging it would act on the source itself.
    if (samePath(source_, destination_)) return SameDate;
    if (!backUpOlderAtOnce(backup)) {
        probeDestination();
        if (backup && destExists_ && (destStamp_ < sourceStamp_ || force)) backUpDestination();
    }
    const bool destOlder = destExists_ && destStamp_ < sourceStamp_;
    try {
        if (!force && destExists_ && !destOlder) return destStamp_ == sourceStamp_ ? SameDate : DestinationNewer;
        const CopyResult result = place(force);
        in_.reset();
        return result;
    } catch (const Error &) {
        in_.reset();
        restoreBackup();
        throw;
    }
}

CopyResult Copy::place(int force) {
    const bool destNewer = destExists_ && destStamp_ > sourceStamp_;
    const CopyResult result = !destExists_ ? Created : (destNewer ? ReplacedNewer : ReplacedOlder);
    // Never overwrite in place: a destination that is still there is
    // replaced at the next start of Windows. The probe's answer or the
    // backup just made stand for a test here: should a file of the name
    // appear meanwhile, the rename into place fails and the copy waits.
    if (!destAbsent_ && !backupMovedNow_ && !knownAbsent(destination_)) return deferCopy(result, force);

    // The copy is written under a work name of its own in the destination's
    // directory and takes the destination's name only when it is complete,
    // so that a run cut short (a power failure) leaves no part of a file at
    // the destination; what such a run left there goes first.
    removeStrayWorkFiles(op_, destDir_);
    if (!copyNow()) return deferCopy(result, force);
    return result;
}

bool Copy::copyNow() {
    // The first work name that can be created exclusively.
    const uint32_t pid = op_.os().processId();
    for (std::size_t i = 0;; ++i) {
        const std::optional<std::string> work = templateCandidate(destDir_, kWorkTemplate, pid, i);
        if (!work) return false;
        const std::optional<bool> done = copyThrough(*work);
        if (done) return *done;
    }
}

std::optional<bool> Copy::copyThrough(const std::string &work) {
    change::Change c;
    c.kind = change::Kind::FileCreated;
    c.path = destination_;
    c.from = source_;
    c.detail = work;
    // A copy the sink refuses is as one that cannot be created now.
    if (!op_.sink().before(c)) return false;
    auto made = op_.os().createNew(work);
    if (!made.ok()) {
        op_.sink().after(c, false);
        // The name is taken: the next one is tried.
        if (made.code == platform::kFileExists || made.code == platform::kAlreadyExists) return std::nullopt;
        // A directory that is not there is a failure of its own: a
        // registration could never be carried out.
        if (isNameError(made.code)) TVPFILE_RAISE(21, destination_);
        return false;
    }
    std::unique_ptr<platform::Writer> out = std::move(made.value);
    // Drops the partly written copy before a failure is raised.
    auto fail = [&](int number, const std::string &path) {
        out.reset();
        in_.reset();
        op_.os().remove(work);
        op_.sink().after(c, false);
        throw Error(number, path.c_str(), "tvpfile", __LINE__);
    };
    const Transfer moved = transferWhole(*in_, *out, expand_);
    if (moved == Transfer::ReadFailed) fail(24, source_);
    if (moved == Transfer::WriteFailed) fail(23, destination_);
    if (out->setTime(sourceTime_) != platform::kOk) fail(27, destination_);
    // A close that fails may have lost the last of the data.
    if (out->close() != platform::kOk) fail(23, destination_);
    out.reset();
    // The rename fails when a file of the destination's name appeared
    // meanwhile or the name cannot be taken now: deferred as above.
    if (op_.os().move(work, destination_) != platform::kOk) {
        op_.os().remove(work);
        op_.sink().after(c, false);
        return false;
    }
    op_.sink().after(c, true);
    return true;
}

// Registers the copy for the next start of Windows instead: staged under a
// temporary name (expanded like the copy it stands for), it replaces the
// destination then.
CopyResult Copy::deferCopy(CopyResult result, int force) {
    in_.reset();
    if (tempDirectory_ == nullptr) TVPFILE_RAISE(21, destination_);

    const uint32_t pid = op_.os().processId();
    std::optional<std::string> temp = tempNameFromTemplate(*tempDirectory_, "TVXXXXXX", pid);
    if (!temp) {
        temp = tempNameFromTemplate(*tempDirectory_, "MTXXXXXX", pid);
        if (op_.debug()) op_.trace("TEMPMK : ", temp ? *temp : std::string("(null)"));
    }
    if (!temp) TVPFILE_RAISE(21, destination_);

    // The candidate's own name is the last eight characters of the path.
    const std::string tempName = temp->substr(temp->size() - 8);
    op_.copy(sourceDir_, *tempDirectory_, nullptr, sourceName_, tempName, force, 0, expand_);
    try {
        op_.deferMove(*temp, destination_);
    } catch (const Error &) {
        // Not registered: the staged copy would never be used.
        op_.remove(*temp);
        throw;
    }
    op_.pending = true;
    return result;
}

} // namespace

CopyResult Operation::copy(const std::string &sourceDir, const std::string &destDir, const std::string *tempDirectory,
                           const std::string &sourceName, const std::string &destName, int force, int backup,
                           const SubstituteClass *expand) {
    Copy job(*this, sourceDir, destDir, tempDirectory, sourceName, destName, expand);
    return job.run(force, backup);
}

} // namespace files::detail
