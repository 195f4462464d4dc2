// File primitives with ".OLD" backups and deferred replacement at the next
// start of Windows.
#pragma once

#include <optional>
#include <string>

class ConfigData;
class SubstituteClass;

enum CopyResult { SameDate = 2, DestinationNewer = 4, ReplacedOlder = 8, ReplacedNewer = 16, Created = 32 };

// tempDirectory and config may be null. Raise Error (module "tvpfile").
// With `expand`, the copy (made now or staged for the next start of
// Windows) is the source with its references expanded line by line
// (LineExpander); the date rule still compares the source's own date.
CopyResult copyFile(const std::string &source, const std::string &destination, const char *tempDirectory,
                    ConfigData *config, int force, int backup, const SubstituteClass *expand = nullptr);
CopyResult copyFileIn(const std::string &sourceDir, const std::string &destDir, const char *tempDirectory,
                      const std::string &sourceName, const std::string &destName, ConfigData *config, int force,
                      int backup, const SubstituteClass *expand = nullptr);
void renameFile(const std::string &source, const std::string &destination, ConfigData *config, int force,
                int backup);
void renameFileIn(const std::string &sourceDir, const std::string &destDir, const std::string &sourceName,
                  const std::string &destName, ConfigData *config, int force, int backup);
void eraseFile(const std::string &path, ConfigData *config, int backup);
void eraseFileIn(const std::string &dir, const std::string &name, ConfigData *config, int backup);

// Registers a move (target given) or deletion (target null) for the next
// start of Windows: WININIT.INI on family 1, a delayed move on family 2.
// Any other family has nothing that stands in for them: Error 29 (source).
// Does not set replacementPending.
void deferMove(const std::string &source, const char *target, ConfigData *config);
void deferMoveWin95(const std::string &source, const std::string &target, ConfigData *config);
void deferMoveNT(const std::string &source, const char *target, ConfigData *config);

// A free temporary name "TV??.???" (or "MT??.???") in the directory, or none.
std::optional<std::string> makeTempName(const std::string &directory);
