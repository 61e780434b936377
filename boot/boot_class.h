// The compiled standard boot class, embedded at build time.
#pragma once

#include <cstddef>

extern const unsigned char boot_class_bytes[];
extern const size_t boot_class_size;

// The name it is stored under, at the root of the temp folder: the folder
// comes first on the class path.
const char* const boot_class_name = "glimvaneboot.class";
