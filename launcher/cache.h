// Fast start: the jars and files of a package extracted once into the
// user's own cache, and used again by every later launch of the same
// package, so that the class path stays the same from run to run.
#pragma once

#include "launcher/driver.h"

// The extraction cache of a package whose Vars text holds "faststart"
// (without error; nothing at all without the key). On success
// launch.cache_folder names the package's own cache folder, checked or
// freshly extracted, holding every F and B file; it stays null when the
// launch falls back to extracting into the temp folder.
void stage_cache(launch_state& launch);

// A package's identity: a hash of every section's type, signature and
// length, as package_identity_digits lower-case hex digits into hex (one
// more byte for the NUL). Copies of one package anywhere share it.
const int package_identity_digits = 16;
void package_identity(const launch_state& launch, char* hex);
