// One function per action keyword: each carries out one decoded line of a
// branch section against the run's context and says what it came to.
#pragma once

#include "engine/context.h"
#include "engine/outcome.h"
#include "text/patchmodel.h"

namespace engine {

Outcome runIni(Context &context, const patch::IniAction &action);
Outcome runReg(Context &context, const patch::RegAction &action);
// SUBST, FILE and FINDFILE (`kind` tells which).
Outcome runInstall(Context &context, patch::ActionKind kind, const patch::InstallAction &action);
// RENAME and COPY (`kind` tells which).
Outcome runLocal(Context &context, patch::ActionKind kind, const patch::LocalAction &action);
Outcome runErase(Context &context, const patch::EraseAction &action);
Outcome runReboot(const patch::RebootAction &action);

// A name field with a wildcard or a character that no file name holds
// names no single file: the line is refused rather than tried (and maybe
// registered for a restart that could never carry it out).
bool isInvalidName(const std::string &name);

} // namespace engine
