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

// ---- payload container: launch errors the driver makes of its results ----------
const char* const text_error_21 = "21: Failed to map '%s' into memory";
const char* const text_error_90 = "90: '%s' is a partial/truncated EXE (partial download?)";
const char* const text_error_91 = "%d: EXE section digital signature check failed";
const char* const text_error_96 = "96: Invalid maximum number of EXE sections %d";
const char* const text_error_97 = "97: Expected %d sections in '%s' (found=%d)";
const char* const text_error_98 = "98: Vars EXE seciton is missing";
const char* const text_error_41 = "41: Unable to write a file to the temp folder [winerr=%d]";
const char* const log_extracted = "extracted=%s";
