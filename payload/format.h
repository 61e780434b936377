// The package format a launcher reads. A packer that writes something an
// older launcher would misread (compressed file sections, a packed runtime)
// writes the Vars key "needs" with the format version the package needs;
// a launcher that reads an older format refuses the package (error 92)
// instead of starting it without the files it cannot read.
#pragma once

#include <cstddef>

// The Vars key that holds the format a package needs.
const char* const needs_key = "needs";
// The format of packages with compressed sections or a packed runtime,
// and of those with files compressed in parts.
const char* const format_compressed_runtime = "1.1";
const char* const format_compressed_parts = "1.2";

// The version of the format this launcher reads, such as "1.1".
const char* launcher_format();

// The launcher's format also stands in its image: a 32-byte mark (its
// text "glimvane-reads-package-format=", zero-filled), then the version,
// NUL-ended, in 16 bytes; the packer reads it from a stub file. A stub
// without the mark reads format 1.0: it predates the key "needs" and
// ignores it.
const int format_mark_size = 32;
const int format_version_size = 16;
const char* const format_unmarked = "1.0";
