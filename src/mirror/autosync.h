// Keeping the server copy current: every command that commits rows syncs after
// its commits when the setting Mirror is set. The sync after a command is held
// to a few seconds (setting MirrorTimeoutSeconds, default 5); a server that is
// away or slow never fails the command: the miss is logged, said once through
// the warning sink, and the next sync catches up (the notes stay in the files).
#pragma once
#include <functional>
#include <string>

#include "mirror/mirrorsync.h"

namespace velmo::mirror {

// Runs a sync and records its outcome (status file, log). Returns the failure's
// message, empty on success.
std::string SyncAndRecord(const SyncOptions& options, SyncReport* report = nullptr);

// Syncs at the end of every writer's turn on the database folder, and says a
// failure through `warn` (standard error, the status bar).
void InstallAutoSync(std::function<void(const std::string& message)> warn);

// Syncs when rows were changed since the last sync of this process, or always
// with `always` (commands that commit without the folder's writer lock and may
// change tables without changing rows: an SQL statement's ALTER or DROP).
void SyncAfterCommand(bool always = false);

// The limit of a sync after a command, in seconds.
double AutoSyncSeconds();

}  // namespace velmo::mirror
