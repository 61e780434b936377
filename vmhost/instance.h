// One instance of a package per user: the first launch serves a channel
// named by the package's identity, and a later launch hands its words over
// through it and ends, without a VM of its own.
#pragma once

#include <cstddef>

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

// The request block's first part, where a later launch's words go.
const size_t instance_words_area = 64 * 1024;

// The request that hands `words` over: "glimvane-words\n", the number of
// words and a line feed, then each word ended by a NUL; a tracked text of
// *length bytes, or null when it does not fit instance_words_area.
char* instance_request(int count, char* const* words, size_t* length);
// The number of words of the request at the start of `block`
// (instance_words_area bytes, which any process of the user may have
// written), with where they begin and their bytes' length; -1 when it is
// no request or its words run past the area.
int instance_request_words(const char* block, const char** first, size_t* length);

// The VM takes words from now on (the application has started), or no
// longer (it ended, or the process is on its way out). Words that arrived
// before wait for the VM.
void instance_vm_ready();
void instance_vm_ended();
