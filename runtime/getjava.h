// The runtime installer fallback: the getjava installer carried in the J
// section, run and waited for when no suitable runtime is found.
#pragma once

// True when the getjava installer path is set, whether or not its file exists.
bool getjava_known();
// Runs the installer when its file exists, after an information box with
// the notice when `show_notice` is set, and waits for it. True when the file
// existed (its start attempted), false when there was nothing to run.
bool run_getjava(bool show_notice);
