// The exit statuses of TAVUPD.EXE, one per outcome, so that a script or a
// deployment tool can tell them apart. Where deployment tools already know a
// value for the outcome, that value is used; 1 stays the status of every
// failure that ends the run, and 0 that of a run that started a follow-on
// program (the reboot program, the failed program) and ended at once.
#pragma once

namespace exitstatus {

// ---- applying a patch --------------------------------------------------------
// Applied, nothing waits for a restart; or a follow-on program was started.
constexpr int kApplied = 0;
// Applied; Windows must be restarted and no reboot program was started.
constexpr int kAppliedRestartNeeded = 3010;
// The patch is recorded as installed already: nothing was changed.
constexpr int kAlreadyInstalled = 1638;
// No condition set holds: the patch is not for this machine; nothing changed.
constexpr int kDoesNotApply = 1642;
// Carried out, but some action lines failed (their messages were shown).
constexpr int kLinesFailed = 1603;
// A failure that ends the run: language file, profile path, Windows
// directory, work directory, a critical error.
constexpr int kFailed = 1;

// ---- taking a patch back (-u) -----------------------------------------------
constexpr int kUndone = 0;
// Taken back; files in use are restored at the next start of Windows.
constexpr int kUndoneRestartNeeded = 3010;
// The patch is not installed and has no journal: nothing to take back.
constexpr int kNothingToUndo = 1605;
// Refused, nothing changed: a later patch is recorded after this one.
constexpr int kUndoRefusedLaterPatch = 2;
// Refused, nothing changed: something the patch wrote was changed since.
// Given twice (-u -u), undo goes on.
constexpr int kUndoRefusedChanged = 3;
// Refused, nothing changed: the patch is recorded but its journal is
// missing, damaged or cannot be read.
constexpr int kUndoRefusedNoJournal = 4;
// Some changes could not be taken back (the message says which): what was
// done is journaled, run undo again.
constexpr int kUndoIncomplete = 1603;

// ---- where the machine stands (-s) ------------------------------------------
constexpr int kStatusClean = 0;
constexpr int kStatusRestartPending = 3010;

} // namespace exitstatus
