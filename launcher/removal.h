// Removal of a run's temp folder, done by a detached copy of the launcher.
#pragma once

// Deletes every file below `folder` whose full path contains `pattern` and
// every folder emptied on the way; never follows a link. Returns the number
// of files and folders removed.
int delete_tree(const char* folder, const char* pattern);
// From now on every file gets one attempt, without waiting.
void end_removal_retries();
