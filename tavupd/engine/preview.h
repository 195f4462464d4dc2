// What a run would do, action by action: the report of TAVUPD.EXE -n.
//
// The report is the run's ChangeSink: every change the run describes before
// making it lands here, and the executor tells where each action starts and
// how it ended. It turns them into one outcome per action, in the author's
// terms (a file installed, the backup kept, an INI key with its old and new
// value, a registry tree with how many keys and values), and prints them one
// line each, in the form of the profile checker:
//
//   TAVUPD.DAT(14) Condition0: holds: the actions of [Update] follow
//   TAVUPD.DAT(22) FILE1: C:\TAVRO\BIN\TVCORE.DLL: backup kept as C:\TAVRO\BIN\TVCORE.OLD
//   TAVUPD.DAT(22) FILE1: C:\TAVRO\BIN\TVCORE.DLL: older file replaced
//   TAVUPD.DAT(23) FILE2: C:\TAVRO\TVVIEW.EXE: older file replaced: would wait for the next start of Windows (in use)
//   TAVUPD.DAT(24) INI1: C:\TAVRO\TAVRO.INI [Tavro] Version: "2.0" -> "2.1"
//   TAVUPD.DAT(25) REG1: HKLM\SOFTWARE\Korvek\Tavro Build: "0400" -> "0410"
//   TAVUPD.DAT(26) REG2: HKLM\SOFTWARE\Korvek\Tavro\Old: tree deleted (3 keys, 5 values)
//   TAVUPD.DAT: C:\TAVRO\TAVRO.INI [Install] Patch2: the patch "TAVRO 2.1" would be recorded
//   TAVUPD.DAT: a restart of Windows would be needed
//   TAVUPD.DAT: the run would end with status 3010
//
// The same report fed by the real run gives the same outcomes when the
// preview was faithful: outcomes() is what a test compares. Names of work
// and staging files (which carry the process number) never appear in it.
//
// Platform-free.
#pragma once

#include "engine/change.h"
#include "engine/observer.h"
#include "engine/reporter.h"

#include <string>
#include <vector>

namespace preview {

// How an action ended, as the executor tells it.
enum class Verdict {
    Done,     // carried out (or nothing was due)
    Deferred, // something waits for the next start of Windows
    Skipped,  // not applicable, nothing to do
    Failed,   // its message was reported
};

// What the date rule decided for one file the action installs or copies.
enum class FileResult { Created, ReplacedOlder, ReplacedNewer, SameDate, DestinationNewer };

enum class Part {
    Run,       // the run's own changes and notes, outside any action
    Condition, // a condition line tested: Done when it holds, Skipped when not
    Action,
};

// One outcome: an action's, a condition's, or the run's own between them.
struct Outcome {
    Part part = Part::Run;
    int line = 0;    // in the installation profile; 0 for the run's own
    std::string key; // "FILE1", "Condition0"; empty for the run's own
    Verdict verdict = Verdict::Done;
    std::vector<std::string> items; // what it would do, one line each, in order
    bool operator==(const Outcome &o) const {
        return part == o.part && line == o.line && key == o.key && verdict == o.verdict && items == o.items;
    }
    bool operator!=(const Outcome &o) const { return !(*this == o); }
};

// How the run would end, as the driver knows it.
struct Ending {
    bool restartNeeded = false;
    int exitStatus = 0;
};

// Fed by a run as its change sink, its observer and a tap of its output
// (the messages it prints on the error stream).
class Report : public change::ChangeSink, public engine::RunObserver, public engine::Output {
  public:
    // `profileName` as the lines name it ("TAVUPD.DAT").
    explicit Report(std::string profileName);
    // The name the lines give the profile (once the run has chosen it).
    void setProfileName(std::string name) { profileName_ = std::move(name); }

    // A condition line tested; `section` is the branch that follows when it
    // holds, `why` says which test failed when it does not.
    void conditionHolds(int line, const std::string &key, const std::string &section);
    void conditionFails(int line, const std::string &key, const std::string &why);

    // An action starts; every change, file result and message until
    // endAction belongs to it.
    void beginAction(int line, const std::string &key);
    // The date rule's decision for a file (FINDFILE: one per file found).
    void fileResult(const std::string &destination, FileResult result);
    // A message the run prints (inside an action: the action's; outside:
    // the run's own).
    void message(const std::string &text);
    void endAction(Verdict verdict, bool endsRun = false);

    // The last lines: whether the patch would be recorded (it is when the
    // run described the record), whether a restart would be needed, the
    // status.
    void finish(const Ending &ending);

    // A line of the preview's own about the run (a program it would start).
    void note(const std::string &text);

    bool needsOldState() const override { return true; }
    bool before(const change::Change &c) override;
    void after(const change::Change &c, bool made) override;

    void conditionTested(int line, const std::string &key, bool holds, const std::string &section,
                         const std::string &why) override;
    void actionStarts(int line, const std::string &key) override;
    void fileCopied(const std::string &destination, int copyResult) override;
    void actionEnds(const engine::Outcome &outcome) override;
    void write(engine::Stream stream, const std::string &text, bool logged) override;

    const std::vector<Outcome> &outcomes() const { return outcomes_; }
    // Every line of the report, in order, without line ends.
    std::vector<std::string> lines() const;
    // The lines joined, each ending in "\n".
    std::string text() const;

  private:
    // A line whose text is known only at the end of the action: a file that
    // arrives under its name (its date-rule result may follow).
    struct Item {
        std::string text;    // a finished line, or the arriving file's name
        bool arrival = false;
        bool replaced = false; // an arrival over an existing file
        bool deferred = false; // an arrival at the next start of Windows
        bool created = false;  // a file this part created, not yet moved anywhere
        bool resultGiven = false;
        FileResult result = FileResult::Created;
        std::string fileKey; // the file the line is about, for INI files
    };

    Outcome &open(Part part, int line, const std::string &key);
    void close();
    void add(const std::string &text, const std::string &aboutFile = std::string());
    void arrive(const std::string &path, bool replaced, bool deferred);
    bool consume(const std::string &fileKey);
    void fileChange(const change::Change &c);
    void restartChange(const change::Change &c);
    void iniChange(const change::Change &c);
    void registryChange(const change::Change &c);
    std::string render(const Item &item) const;

    std::string profileName_;
    std::vector<Outcome> outcomes_;
    bool isOpen_ = false;
    std::vector<Item> items_;
    std::vector<std::string> iniFiles_; // INI files the open part changed (keys)
    bool recorded_ = false;
};

// The data of a registry value as the report shows it: a string in quotes,
// a DWORD as 0x0000000A (10), anything else as its type and bytes.
std::string showRegValue(const platform::RegValue &value);

} // namespace preview
