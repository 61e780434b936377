// The runtime installer fallback: the getjava installer carried in the J
// section, run and waited for when no suitable runtime is found, and the
// follow-up of a reported runtime error.
#pragma once

// True when the getjava installer path is set, whether or not its file exists.
bool getjava_known();
// Runs the installer when its file exists, after an information box with
// the notice when `show_notice` is set, and waits for it. True when the file
// existed (its start attempted), false when there was nothing to run.
bool run_getjava(bool show_notice);
// After report_error: for a launch error whose tens digit is 1 or 3, runs
// the installer when its path is set (without a second notice) and
// otherwise opens the download page. Nothing when quiet_flag is set.
void runtime_follow_up(const char* text);
