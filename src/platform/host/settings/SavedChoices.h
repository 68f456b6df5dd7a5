#pragma once
// The host's choices between runs: which store a run uses, and what it fills in of what
// the command line left open. A scripted or headless run reads and writes nothing unless
// --settings names a file, so that it does the same on every machine.
#include <memory>

#include "host/CommandLine.h"
#include "host/settings/SettingsStore.h"

namespace host {

// Null for a run that keeps no settings.
std::shared_ptr<SettingsStore> openSettingsStore(const Options& options);

// The saved camera (where it is still there) and picture size, where the command line
// named none; then records what this run uses.
void applySavedChoices(Options& options, SettingsStore& store);

} // namespace host
