// One instance of a package per user: the first launch serves a channel
// named by the package's identity, and a later launch hands its words over
// through it and ends, without a VM of its own.
#pragma once

enum instance_result {
    INSTANCE_NONE,     // no instance channel: the launch goes on as any other
    INSTANCE_SERVING,  // this launch is the instance and takes the words of later ones
    INSTANCE_HANDED    // the running instance took this launch's words
};

// Claims the instance of the package `identity`, or hands `words` to the
// running one. `method` is "CLASS.METHOD", the public static
// void METHOD(String[]) that gets each later launch's words, or empty for
// none. Every way that gives no hand-over (a channel that cannot be made,
// an instance that does not answer within a few seconds, words that do not
// fit) gives INSTANCE_NONE after it has logged why.
instance_result instance_start(const char* identity, const char* method, int count, char* const* words);

// The VM takes words from now on (the application has started), or no
// longer (it ended, or the process is on its way out). Words that arrived
// before wait for the VM.
void instance_vm_ready();
void instance_vm_ended();
