// Every text the launcher shows or logs, in one place, so that reviewers see
// them together and tests refer to the same constants.
#pragma once

// ---- outside the debug log -----------------------------------------------------
const char* const text_refused_free = "?free() %d\r\n";
const char* const text_out_of_memory = "\r\nOut of memory\r\n";

// ---- debug log -----------------------------------------------------------------
const char* const log_format = "!%s [%d]\r\n";
const char* const log_arg = "arg%d='%s'";
const char* const log_delete_error = "delete.error=%s";
