// A request/reply channel of named objects, private to this user: a shared
// block (the request at its start, the reply at a fixed offset), a lock
// over the block, a start and an end event, and a lock by which clients
// take turns. The control channel is one (named by the run id); the single
// instance of a package is another (named by the package's identity).
#pragma once

#include "os/os.h"

#include <cstddef>

// A served channel's objects; made by channel_create, never closed.
struct channel_server {
    os_shared* block;
    os_sync* lock;
    os_sync* start;
    os_sync* end;
    os_sync* clients;
    size_t size;
};

// Makes the objects of channel `id`, the block of `size` zero bytes first.
// False when one cannot be made; *existed is true when the block of that
// name exists already (another process serves the channel).
bool channel_create(const char* id, size_t size, channel_server* server, bool* existed);

// Serves requests until a wait fails: `handle` gets a private copy of the
// block's first reply_offset bytes (whatever a client does to the block
// meanwhile cannot reach it; a block that no longer holds them reads as
// zeros) and leaves a NUL-ended reply at reply_offset in it, at most
// `size` - reply_offset bytes.
void channel_serve(channel_server* server, size_t reply_offset, void (*handle)(char* copy));

enum channel_result {
    CHANNEL_REPLIED,
    CHANNEL_NONE,       // no block of that name, or its objects are incomplete
    CHANNEL_NO_ANSWER,  // the server lives but did not answer in time
    CHANNEL_BUSY,       // other clients held their turns too long
    CHANNEL_ENDED,      // the server ended meanwhile
    CHANNEL_KILLED      // the server was killed and left its names behind
};

// One request: `length` bytes of `request` go in at offset 0 of the block
// of `size` bytes, the reply comes back NUL-ended into `reply`. Requests of
// several clients take turns (each waits at most turn_wait_ms for its turn),
// so each gets its own reply; a server that does not answer within
// `wait_ms`, or that ended or was killed, gives the result that says so.
channel_result channel_ask(const char* id, size_t size, size_t reply_offset, const void* request, size_t length,
                           int turn_wait_ms, int wait_ms, char* reply, size_t reply_size);

// The block's name of channel `id` into buf.
void channel_block_name(const char* id, char* buf, size_t buf_size);
// Removes the names a killed server of channel `id` left behind (POSIX).
void channel_remove_leftovers(const char* id);
