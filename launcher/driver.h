// The launch driver's own state and its preparation stages. launcher_main
// (entry.h) runs them in order; tests run single stages.
#pragma once

#include <cstdint>

const int module_dir_size = 260;

// State local to one launch. Every text is a tracked string or a constant
// text; none is released before the process ends.
struct launch_state {
    const char* error;            // the launch error text; null while there is none
    const char* exe_name_now;
    char module_dir[module_dir_size];
    const unsigned char* base;    // the mapped view of the running executable
    int32_t length;               // mapped length; 0 when no mapping was attempted
    const unsigned char** table;  // section headers, one entry per expected section
    int32_t found;                // sections the scan found
    char* vars;                   // the Vars text, or null
    char* class_path;
    char* library_path;
    char* z_offsets;              // ",offset" per Z section header
    uint64_t minver, maxver;      // the version window
    char* vm_library;             // the chosen runtime's VM library, or null
    char* cache_folder;  // fast start: the package's own cache folder; null otherwise
    bool handed_over;    // the package's running instance took this launch's words
    bool unchecked_files;  // file sections whose payload signatures wait for check_file_sections
};

// Stages 1 to 15. Stages that need earlier results run only while there is
// no launch error text; the first error wins, except that a later write
// failure of the file extraction replaces an earlier one.
void prepare_launch(launch_state& launch, int count, char** words);

// Single stages, each keeping the rule above.
void stage_vars(launch_state& launch);          // 7: the Vars text, error 98
// The payload signatures of the file sections that the scan left (without
// error): error 91 when one fails. Each launch checks them once, before
// any of their bytes is extracted.
void check_file_sections(launch_state& launch);
void stage_temp_folder(launch_state& launch);   // 9: errors 23, 22, 40
void stage_class_path(launch_state& launch);    // 10
void stage_library_path(launch_state& launch);  // 12: error 24
void stage_z_offsets(launch_state& launch);     // 14
void stage_version_window(launch_state& launch);  // 16
void stage_runtime_choice(launch_state& launch);  // 17: errors 10 and 15
