// The process-wide paths that launch preparation fills and later stages,
// the exit path and the control channel read.
#pragma once

const int module_filename_size = 260;
const int temp_folder_size = 292;  // a temp path below 230 bytes, a separator and the run id
const int temp_path_limit = 230;
const int run_id_size = 100;

extern char module_filename[module_filename_size];  // empty at first
extern char temp_folder[temp_folder_size];          // empty, ".", the temp path, then the folder
extern char run_id[run_id_size];                    // "GV%X%X", empty at first
extern char* getjava_path;                          // none (null) at first
// Set when the temp folder could not be created (error 40): it exists and
// belongs to someone else, so the exit path starts no removal child for it.
extern bool temp_folder_foreign;
