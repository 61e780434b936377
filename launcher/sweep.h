// Run folders that killed launches left behind: each launch marks its own
// folder with its owner, and the removal child of a later launch removes
// the folders whose owner no longer runs.
#pragma once

#include <cstdint>

// Writes the owner mark (this process's id and start time) into the run
// folder just made; false when it could not be written.
bool write_owner_mark(const char* folder);
// The process that the mark in `folder` names; false without a valid mark.
bool read_owner_mark(const char* folder, uint32_t* pid, uint64_t* start);
// True for a run id: "GV" and upper-case hexadecimal digits, as
// "GV%X%X" makes them.
bool run_id_form(const char* name);
// Removes the run folders below `temp_path` (no trailing separator) other
// than `own`: run-id names only, real folders of this user, unchanged for a
// minute, whose mark names a process that no longer runs (or that are
// empty: killed before their mark). Stops after a short time budget.
// Returns the number of folders removed.
int sweep_run_folders(const char* temp_path, const char* own);
// The removal child's sweep after it removed `folder`; only when `folder`
// is a run folder: the temp path, a separator and the run id `pattern`.
void sweep_after_removal(const char* folder, const char* pattern);
