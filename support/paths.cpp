#include "support/paths.h"

char module_filename[module_filename_size];
char temp_folder[temp_folder_size];
char run_id[run_id_size];
char* getjava_path = nullptr;
bool temp_folder_foreign = false;
