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
